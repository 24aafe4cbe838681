#include "text/text.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace corvane {
namespace {

TEST(FormatCodeTest, PadsToSixDigitsButNeverTruncates) {
    EXPECT_EQ(format_code(1), "000001");
    EXPECT_EQ(format_code(25755255), "25755255");
}

TEST(QuoteTextTest, EscapesLikeTheReprs) {
    EXPECT_EQ(quote_text("ABC"), "\"ABC\"");
    EXPECT_EQ(quote_text("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(quote_text(std::string("\t\r\n\0", 4)), "\"\\t\\r\\n\\0\"");
    EXPECT_EQ(quote_text("\x01\x7f"), "\"\\u{1}\\u{7f}\"");
    EXPECT_EQ(quote_text("it's \xC3\xA9t\xC3\xA9"), "\"it's \xC3\xA9t\xC3\xA9\"");
    EXPECT_EQ(quote_text("\xC2\x85"), "\"\\u{85}\"");
}

TEST(IntegerParseTest, FollowsTheStrictGrammar) {
    std::uint64_t u;
    std::int64_t s;
    IntParseFailure failure;
    EXPECT_TRUE(parse_unsigned("+12", UINT32_MAX, u, failure));
    EXPECT_EQ(u, 12u);
    EXPECT_TRUE(parse_unsigned("0004294967295", UINT32_MAX, u, failure));
    EXPECT_EQ(u, 4294967295u);
    EXPECT_FALSE(parse_unsigned("4294967296", UINT32_MAX, u, failure));
    EXPECT_EQ(failure, IntParseFailure::TooLarge);
    EXPECT_FALSE(parse_unsigned("-1", UINT32_MAX, u, failure));
    EXPECT_EQ(failure, IntParseFailure::InvalidDigit);
    EXPECT_FALSE(parse_unsigned("+", UINT32_MAX, u, failure));
    EXPECT_EQ(failure, IntParseFailure::InvalidDigit);
    EXPECT_FALSE(parse_unsigned("", UINT32_MAX, u, failure));
    EXPECT_EQ(failure, IntParseFailure::Empty);
    EXPECT_FALSE(parse_unsigned("18446744073709551616", UINT64_MAX, u, failure));
    EXPECT_EQ(failure, IntParseFailure::TooLarge);
    EXPECT_TRUE(parse_signed("-2147483648", INT32_MIN, INT32_MAX, s, failure));
    EXPECT_EQ(s, INT32_MIN);
    EXPECT_FALSE(parse_signed("-2147483649", INT32_MIN, INT32_MAX, s, failure));
    EXPECT_EQ(failure, IntParseFailure::TooSmall);
    EXPECT_FALSE(parse_signed("+2147483648", INT32_MIN, INT32_MAX, s, failure));
    EXPECT_EQ(failure, IntParseFailure::TooLarge);
    EXPECT_FALSE(parse_signed("-", INT32_MIN, INT32_MAX, s, failure));
    EXPECT_EQ(failure, IntParseFailure::InvalidDigit);
    EXPECT_TRUE(parse_signed("-9223372036854775808", INT64_MIN, INT64_MAX, s, failure));
    EXPECT_EQ(s, INT64_MIN);
    EXPECT_FALSE(parse_signed(" 7", INT32_MIN, INT32_MAX, s, failure));
    EXPECT_EQ(failure, IntParseFailure::InvalidDigit);
}

TEST(FormatFloatTest, ShortestRoundTripForm) {
    EXPECT_EQ(format_shortest_float(273.15), "273.15");
    EXPECT_EQ(format_shortest_float(1.0), "1.0");
    EXPECT_EQ(format_shortest_float(-0.5), "-0.5");
    EXPECT_EQ(format_shortest_float(0.0), "0.0");
    EXPECT_EQ(format_shortest_float(1e-5), "1e-5");
    EXPECT_EQ(format_shortest_float(2.5e16), "2.5e16");
    EXPECT_EQ(format_shortest_float(1e16), "1e16");
    EXPECT_EQ(format_shortest_float(0.0001), "0.0001");
    EXPECT_EQ(format_shortest_float(1e300), "1e300");
    EXPECT_EQ(format_shortest_float(9999999999999998.0), "9999999999999998.0");
    EXPECT_EQ(format_shortest_float(0.1 + 0.2), "0.30000000000000004");
}

TEST(Utf8Test, ReportsTheValidPrefix) {
    std::size_t prefix;
    EXPECT_TRUE(is_valid_utf8("h\xC3\xA9llo", prefix));
    EXPECT_FALSE(is_valid_utf8("ab\xFF", prefix));
    EXPECT_EQ(prefix, 2u);
    EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80", prefix));  // a surrogate
    EXPECT_EQ(prefix, 0u);
    EXPECT_FALSE(is_valid_utf8("x\xC3", prefix));  // cut short
    EXPECT_EQ(prefix, 1u);
}

TEST(WhitespaceTest, TableTextsLoseUnicodeSpaceAndSectionTextsTrailingAsciiSpace) {
    EXPECT_EQ(trim_unicode_whitespace("\t\xC2\xA0 a b\xE3\x80\x80\r\n"), "a b");
    EXPECT_EQ(trim_unicode_whitespace("\xC2\xA0\xE2\x80\xA8"), "");
    // A lone lead byte or another character above 0x7F is no space.
    EXPECT_EQ(trim_unicode_whitespace("\xC2x\xC3\xA9"), "\xC2x\xC3\xA9");
    EXPECT_EQ(whitespace_length("\xE1\x9A\x80x"), 3u);
    EXPECT_EQ(whitespace_length("\xE1\x9A"), 0u);
    EXPECT_EQ(whitespace_length(""), 0u);
    EXPECT_EQ(trim_ascii_space_end(" a\v\f "), " a");
    EXPECT_EQ(trim_ascii_space_end("a\xC2\xA0"), "a\xC2\xA0");
    EXPECT_EQ(trim_ascii_space_end(std::string_view("a\0 ", 3)), std::string_view("a\0", 2));
    EXPECT_EQ(trim_ascii_space_end(std::string_view("\0a\0 \0\t", 6), true), std::string_view("\0a", 2));
}

}  // namespace
}  // namespace corvane
