// Text helpers of the whole core: quoting, code and number formatting, strict number parsing,
// UTF-8 checking and white space. They know nothing of BUFR errors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

// The quoted form used in error texts and reprs: double quotes, backslash
// escapes for \" \\ \t \r \n \0, and \u{hex} for other non-printable characters.
std::string quote_text(std::string_view text);

// A code shown zero-padded to at least six digits (1001 -> "001001").
std::string format_code(std::uint32_t code);

// Why a strict decimal integer parse failed.
enum class IntParseFailure : std::uint8_t { Empty, InvalidDigit, TooLarge, TooSmall };
std::string_view int_parse_reason(IntParseFailure failure);

// Strict decimal parsers: optional sign ("-" only when signed), then digits, no blanks.
// They return false and set `failure` when the text is not a valid number in range.
bool parse_unsigned(std::string_view text, std::uint64_t max, std::uint64_t& out, IntParseFailure& failure);
bool parse_signed(std::string_view text, std::int64_t min, std::int64_t max, std::int64_t& out,
                  IntParseFailure& failure);

// The shortest text that reads back as the same double, always with a fractional part or an
// exponent: 1.0, 273.15, 1e-5, 2.5e16.
std::string format_shortest_float(double value);

// Whether `text` is well-formed UTF-8; when not, `valid_prefix` is the length of the valid part.
bool is_valid_utf8(std::string_view text, std::size_t& valid_prefix);

// Tab, line feed, vertical tab, form feed, carriage return and space.
constexpr bool is_ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The length of the Unicode white-space character that starts `text` (UTF-8), or 0.
std::size_t whitespace_length(std::string_view text);

// Without the Unicode white space at either end, as table texts are read.
std::string_view trim_unicode_whitespace(std::string_view text);

// Without the ASCII white space at the end, as section-4 texts are read; with `nul_too`,
// without the NULs among it as well.
std::string_view trim_ascii_space_end(std::string_view text, bool nul_too = false);

}  // namespace corvane
