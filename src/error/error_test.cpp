#include "error/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "error/text.hpp"

namespace corvane {
namespace {

TEST(BufrErrorTest, RendersEveryKind) {
    EXPECT_EQ(BufrError::message_too_short().render(), "message is too short to be BUFR");
    EXPECT_EQ(BufrError::missing_marker().render(), "missing BUFR marker");
    EXPECT_EQ(BufrError::unsupported_edition(3).render(), "unsupported BUFR edition 3; only edition 4 is implemented");
    EXPECT_EQ(BufrError::length_mismatch(200, 100).render(), "declared length 200 does not match buffer length 100");
    EXPECT_EQ(BufrError::truncated_section(1, 8).render(), "section 1 at offset 8 is truncated");
    EXPECT_EQ(BufrError::bad_end_marker().render(), "section 5 terminator is not 7777");
    EXPECT_EQ(BufrError::odd_descriptor_area().render(), "section 3 descriptor area has odd byte count");
    EXPECT_EQ(BufrError::sequence_not_found(301999).render(), "descriptor 301999 was not found in Table D");
    EXPECT_EQ(BufrError::incomplete_delayed_replication(101000).render(),
              "delayed replication descriptor 101000 is missing its replication factor or replicated descriptors");
    EXPECT_EQ(BufrError::unsupported_replication(102002).render(), "unsupported replication descriptor 102002");
    EXPECT_EQ(BufrError::element_not_found(1001).render(), "descriptor 001001 was not found in Table B");
    EXPECT_EQ(BufrError::parse("boom").render(), "csv/table parse error: boom");
    EXPECT_EQ(BufrError::io_invalid_utf8().render(), "io error: stream did not contain valid UTF-8");
    EXPECT_EQ(BufrError::io_errno(ENOENT).render(), "io error: No such file or directory (os error 2)");
    EXPECT_EQ(BufrError::not_regular_file("/dev/zero").render(), "not a regular file: /dev/zero");
}

TEST(BufrErrorTest, CodesPadToSixDigitsButNeverTruncate) {
    EXPECT_EQ(format_code(1), "000001");
    EXPECT_EQ(format_code(25755255), "25755255");
    EXPECT_EQ(BufrError::element_not_found(12345678).render(), "descriptor 12345678 was not found in Table B");
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

}  // namespace
}  // namespace corvane
