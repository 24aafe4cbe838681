#include "text/text.hpp"

namespace corvane {
namespace {

// The multi-byte Unicode white-space characters, as UTF-8. Each starts and ends with a byte of
// 0x80 or above, so a plain ASCII byte is never part of one.
constexpr std::string_view kMultiByteSpaces[] = {
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82", "\xE2\x80\x83",
    "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A",
    "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"};

bool is_plain(char c) { return static_cast<unsigned char>(c) < 0x80; }

// The length of the white-space character that starts `text`, or ends it when `at_end`; 0 when
// there is none.
std::size_t edge_space_length(std::string_view text, bool at_end) {
    if (text.empty()) return 0;
    const char edge = at_end ? text.back() : text.front();
    if (is_plain(edge)) return is_ascii_space(edge) ? 1 : 0;
    for (std::string_view space : kMultiByteSpaces) {
        if (at_end ? text.ends_with(space) : text.starts_with(space)) return space.size();
    }
    return 0;
}

}  // namespace

std::size_t whitespace_length(std::string_view text) { return edge_space_length(text, false); }

std::string_view trim_unicode_whitespace(std::string_view text) {
    // Table text is nearly all ASCII: multi-byte spaces are looked for only at an end that is not.
    while (!text.empty() && is_ascii_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_ascii_space(text.back())) text.remove_suffix(1);
    if (text.empty() || (is_plain(text.front()) && is_plain(text.back()))) return text;
    while (const std::size_t n = whitespace_length(text)) text.remove_prefix(n);
    while (const std::size_t n = edge_space_length(text, true)) text.remove_suffix(n);
    return text;
}

std::string_view trim_ascii_space_end(std::string_view text, bool nul_too) {
    while (!text.empty() && (is_ascii_space(text.back()) || (nul_too && text.back() == '\0'))) text.remove_suffix(1);
    return text;
}

}  // namespace corvane
