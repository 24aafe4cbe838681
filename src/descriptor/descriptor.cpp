#include "descriptor/descriptor.hpp"

#include <string>

#include "error/text.hpp"

namespace corvane {
namespace {

// Unicode white space, as UTF-8 byte sequences, for trimming table fields.
std::size_t whitespace_length(std::string_view s, std::size_t i, bool backwards) {
    static constexpr std::string_view kMultiByte[] = {
        "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
        "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
        "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
        "\xE3\x80\x80"};
    const auto ascii = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    // Every multi-byte sequence starts and ends with a byte of 0x80 or above.
    const auto plain = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
    if (backwards) {
        if (i == 0) return 0;
        if (plain(s[i - 1])) return ascii(s[i - 1]) ? 1 : 0;
        for (std::string_view w : kMultiByte) {
            if (i >= w.size() && s.substr(i - w.size(), w.size()) == w) return w.size();
        }
        return 0;
    }
    if (i >= s.size()) return 0;
    if (plain(s[i])) return ascii(s[i]) ? 1 : 0;
    for (std::string_view w : kMultiByte) {
        if (s.substr(i, w.size()) == w) return w.size();
    }
    return 0;
}

}  // namespace

std::string_view trim_unicode_whitespace(std::string_view text) {
    std::size_t begin = 0;
    while (std::size_t n = whitespace_length(text, begin, false)) begin += n;
    std::size_t end = text.size();
    while (end > begin) {
        const std::size_t n = whitespace_length(text, end, true);
        if (n == 0) break;
        end -= n;
    }
    return text.substr(begin, end - begin);
}

Result<std::uint32_t> parse_code(std::string_view text) {
    std::string_view digits = trim_unicode_whitespace(text);
    while (!digits.empty() && digits.front() == '"') digits.remove_prefix(1);
    while (!digits.empty() && digits.back() == '"') digits.remove_suffix(1);
    std::uint64_t value;
    IntParseFailure failure;
    if (!parse_unsigned(digits, UINT32_MAX, value, failure)) return bad_number_error("descriptor code", text, failure);
    return static_cast<std::uint32_t>(value);
}

}  // namespace corvane
