#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "data/decode_test_support.hpp"

namespace corvane::testing {
namespace {

using Numbers = std::vector<std::optional<double>>;
using Codes = std::vector<std::uint32_t>;

TEST(UncompressedDecode, SubsetsFollowEachOtherWithValuesMissingValuesAndText) {
    const TableSet tables = basic_tables();
    const auto data = BitWriter().bits(5, 7).bits(373, 12).text("AB ").ones(7).ones(12).ones(24).bytes();
    auto result = decode(make_message({1001, 12001, 1015}, 2), tables, data);
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    ASSERT_EQ(v.size(), 6u);
    EXPECT_EQ(codes_of(v), (Codes{1001, 12001, 1015, 1001, 12001, 1015}));
    EXPECT_EQ(*v[0].name, "A");
    EXPECT_EQ(v[0].raw(), 5u);
    EXPECT_EQ(v[0].raw_value(), 5.0);
    EXPECT_DOUBLE_EQ(*v[1].raw_value(), 27.3);
    EXPECT_EQ(v[2].raw_text(), "AB");
    EXPECT_FALSE(v[2].raw().has_value());
    EXPECT_EQ(v[2].raw_value(), 1003.0);
    // Missing values keep their all-ones bits; text numbering runs across subsets.
    EXPECT_FALSE(v[3].raw_value().has_value());
    EXPECT_EQ(v[3].raw(), 127u);
    EXPECT_EQ(v[4].raw(), 4095u);
    EXPECT_FALSE(v[5].raw_text().has_value());
    EXPECT_EQ(v[5].raw_value(), 2003.0);
}

TEST(UncompressedDecode, CodeTableMeaningsAndClass31NeverMissing) {
    const TableSet tables = basic_tables();
    const auto data = BitWriter().bits(3, 4).ones(4).bits(5, 4).ones(6).bytes();
    auto result = decode(make_message({20011, 20011, 20011, 31021}), tables, data);
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(*v[0].raw_meaning, "three");
    EXPECT_EQ(v[0].raw_value(), 3.0);
    // A missing coded value still gets the meaning of its all-ones pattern.
    EXPECT_FALSE(v[1].raw_value().has_value());
    EXPECT_EQ(*v[1].raw_meaning, "missing");
    EXPECT_EQ(v[2].raw_meaning, nullptr);
    EXPECT_EQ(v[3].raw_value(), 63.0);
}

TEST(UncompressedDecode, TextDecodingKeepsLeadingBlanksAndReplacesHighBytes) {
    TableSet tables = basic_tables();
    add_element(tables, 1019, "LONG", 0, 0, 44, "CCITT IA5");
    const auto data = BitWriter().bits(' ', 8).bits(0xE9, 8).bits(0, 8).text("   ").text("XYZ\t ").bits(0xA, 4).bytes();
    auto result = decode(make_message({1015, 1015, 1019}), tables, data);
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(v[0].raw_text(), std::string(" ?\0", 3));
    // Present but blank is an empty text, not a missing one.
    EXPECT_EQ(v[1].raw_text(), "");
    // A partial last byte is left-aligned: 0xA0 is above 0x7F.
    EXPECT_EQ(v[2].raw_text(), "XYZ\t ?");
    EXPECT_EQ(v[2].raw_value(), 3005.0);
}

TEST(UncompressedDecode, NulPaddedTextsOnRequest) {
    const TableSet tables = basic_tables();
    const auto data = BitWriter()
                          .bits(0xFF, 8)
                          .bits(0, 16)
                          .text("A")
                          .bits(0, 8)
                          .text(" ")
                          .bits(0, 24)
                          .bits(0, 8)
                          .text("A")
                          .bits(0, 8)
                          .bits(0, 16)
                          .bytes();
    const auto message = make_message({1015, 1015, 1015, 1015, 205002});
    auto padded = decode(message, tables, data, {.nul_padded_texts = true});
    ASSERT_TRUE(padded) << error_text(padded);
    const auto& v = *padded;
    EXPECT_FALSE(v[0].raw_text().has_value());
    EXPECT_EQ(v[0].raw_value(), 1003.0);
    EXPECT_EQ(v[1].raw_text(), "A");
    EXPECT_FALSE(v[2].raw_text().has_value());
    // Only trailing NULs are padding.
    EXPECT_EQ(v[3].raw_text(), std::string_view("\0A", 2));
    EXPECT_FALSE(v[4].raw_text().has_value());
    auto plain = decode(message, tables, data);
    ASSERT_TRUE(plain) << error_text(plain);
    EXPECT_EQ((*plain)[0].raw_text(), std::string_view("?\0\0", 3));
    EXPECT_EQ((*plain)[4].raw_text(), std::string_view("\0\0", 2));
}

// Values that a bitmap attaches take the field their element was read with, not the operators
// in force at the bitmap: 12001 read 15 bits wide (201131), 1002 with 207001, NAME with 208004.
TEST(UncompressedDecode, BitmapDrivenValuesTakeTheFieldTheirElementWasReadWith) {
    const TableSet tables = basic_tables();
    const auto data = BitWriter()
                          .bits(10000, 15)
                          .bits(12345, 14)
                          .text("ABCD")
                          .bits(0, 3)
                          .bits(500, 15)
                          .bits(678, 14)
                          .text("WXYZ")
                          .bits(0, 2)
                          .bits(1, 1)
                          .bits((1u << 15) - 30, 16)
                          .bits((1u << 14) + 250, 15)
                          .bytes();
    auto result = decode(
        make_message({201131, 12001,  207001, 1002,   207000, 208004, 1015,   208000, 223000, 101003, 31031,
                      201129, 223255, 223255, 223255, 201000, 225000, 101003, 31031,  201129, 225255, 225255}),
        tables, data);
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(codes_of(v), (Codes{12001, 1002, 1015, 223000, 31031, 31031, 31031, 12001, 1002, 1015, 225000, 31031,
                                  31031, 31031, 12001, 1002}));
    EXPECT_DOUBLE_EQ(v[7].raw_value().value_or(0), 40.0);
    EXPECT_DOUBLE_EQ(v[8].raw_value().value_or(0), 6.78);
    EXPECT_EQ(v[9].raw_text(), "WXYZ");
    // 225255: one bit more than the element was read with, and the reference -(2^width).
    EXPECT_DOUBLE_EQ(v[14].raw_value().value_or(0), -3.0);
    EXPECT_DOUBLE_EQ(v[15].raw_value().value_or(0), 2.5);
}

TEST(UncompressedDecode, ZeroSubsetsReadNothingAndManySubsetsReadOnePassEach) {
    const TableSet tables = basic_tables();
    auto none = decode(make_message({1001}, 0), tables, {});
    ASSERT_TRUE(none) << error_text(none);
    EXPECT_TRUE(none->empty());

    BitWriter writer;
    for (std::uint32_t s = 0; s < 65535; ++s) writer.bits(s % 100, 7);
    auto many = decode(make_message({1001}, 65535), tables, writer.bytes());
    ASSERT_TRUE(many) << error_text(many);
    ASSERT_EQ(many->size(), 65535u);
    EXPECT_EQ((*many)[65534].raw_value(), 34.0);
}

TEST(UncompressedDecode, FixedAndDelayedReplication) {
    const TableSet tables = basic_tables();
    auto fixed = decode(make_message({102002, 1001, 31021}), tables,
                        BitWriter().bits(1, 7).bits(2, 6).bits(3, 7).bits(4, 6).bytes());
    ASSERT_TRUE(fixed) << error_text(fixed);
    EXPECT_EQ(numbers_of(*fixed), (Numbers{1.0, 2.0, 3.0, 4.0}));

    auto twice = decode(make_message({101000, 31001, 1001, 31021}), tables,
                        BitWriter().bits(2, 8).bits(7, 7).bits(8, 7).bits(9, 6).bytes());
    ASSERT_TRUE(twice) << error_text(twice);
    EXPECT_EQ(codes_of(*twice), (Codes{31001, 1001, 1001, 31021}));
    EXPECT_EQ(numbers_of(*twice), (Numbers{2.0, 7.0, 8.0, 9.0}));

    // Subsets of one message may repeat differently: each ends where its own values do.
    auto uneven = decode(make_message({101000, 31001, 1001}, 3), tables,
                         BitWriter().bits(2, 8).bits(7, 7).bits(8, 7).bits(0, 8).bits(1, 8).bits(9, 7).bytes());
    ASSERT_TRUE(uneven) << error_text(uneven);
    EXPECT_EQ(uneven->subset_ends, (std::vector<std::size_t>{3, 4, 6}));

    auto never = decode(make_message({101000, 31001, 1001, 31021}), tables, BitWriter().bits(0, 8).bits(9, 6).bytes());
    ASSERT_TRUE(never) << error_text(never);
    EXPECT_EQ(codes_of(*never), (Codes{31001, 31021}));
}

TEST(UncompressedDecode, TextOrScaledFactorsCount) {
    TableSet tables = basic_tables();
    add_element(tables, 31003, "TEXT FACTOR", 0, 0, 8, "CCITT IA5");
    add_element(tables, 31004, "SCALED FACTOR", 1, -30, 8);
    // A text factor repeats nothing; (55 - 30) / 10 = 2.5 repeats twice.
    auto result = decode(make_message({101000, 31003, 1001, 101000, 31004, 1001}), tables,
                         BitWriter().bits('3', 8).bits(55, 8).bits(1, 7).bits(2, 7).bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_EQ(codes_of(*result), (Codes{31003, 31004, 1001, 1001}));
}

TEST(UncompressedDecode, SequencesAndTheirNestingLimit) {
    TableSet tables = basic_tables();
    add_sequence(tables, 301001, {1001, 301002});
    add_sequence(tables, 301002, {31021});
    add_sequence(tables, 301003, {301003});
    add_sequence(tables, 301004, {});
    auto nested = decode(make_message({301001, 301004, 1001}), tables,
                         BitWriter().bits(1, 7).bits(2, 6).bits(3, 7).bytes());
    ASSERT_TRUE(nested) << error_text(nested);
    EXPECT_EQ(codes_of(*nested), (Codes{1001, 31021, 1001}));

    EXPECT_EQ(error_text(decode(make_message({301003}), tables, {})),
              "limit exceeded: descriptor decode exceeded recursion depth");

    // 64 nested levels below the top walk are allowed, the 65th is not.
    TableSet chain = basic_tables();
    for (std::uint32_t level = 1; level <= 65; ++level) {
        add_sequence(chain, 340000 + level, {level == 65 ? 1001u : 340001 + level});
    }
    EXPECT_EQ(error_text(decode(make_message({340001}), chain, BitWriter().bits(1, 7).bytes())),
              "limit exceeded: descriptor decode exceeded recursion depth");
    auto deepest = decode(make_message({340002}), chain, BitWriter().bits(1, 7).bytes());
    ASSERT_TRUE(deepest) << error_text(deepest);
    EXPECT_EQ(deepest->size(), 1u);
}

TEST(UncompressedDecode, DescriptorErrors) {
    const TableSet tables = basic_tables();
    const auto some = BitWriter().bits(1, 8).bits(0, 32).bytes();
    EXPECT_EQ(error_text(decode(make_message({1003}), tables, some)), "descriptor 001003 was not found in Table B");
    EXPECT_EQ(error_text(decode(make_message({101000, 31009, 1001}), tables, some)),
              "descriptor 031009 was not found in Table B");
    EXPECT_EQ(error_text(decode(make_message({301999}), tables, some)), "descriptor 301999 was not found in Table D");
    EXPECT_EQ(error_text(decode(make_message({400000}), tables, some)), "invalid data: invalid descriptor 400000");
    EXPECT_EQ(error_text(decode(make_message({101000, 31001}), tables, some)),
              "delayed replication descriptor 101000 is missing its replication factor or replicated descriptors");
    EXPECT_EQ(error_text(decode(make_message({1001, 101000}), tables, some)),
              "unsupported replication descriptor 101000");
    EXPECT_EQ(error_text(decode(make_message({102003, 1001}), tables, some)),
              "unsupported replication descriptor 102003");
    EXPECT_EQ(error_text(decode(make_message({100002, 1001}), tables, some)),
              "unsupported replication descriptor 100002");
}

TEST(UncompressedDecode, TruncatedData) {
    const TableSet tables = basic_tables();
    EXPECT_EQ(error_text(decode(make_message({1001, 1002}), tables, {0xFF})),
              "data truncated: not enough bits while reading section 4 at bit 7 for width 10 (8 bits available)");
    // Whole bytes of a text field that fit are taken; the error names the first that does not.
    EXPECT_EQ(error_text(decode(make_message({1015}), tables, {'A', 'B'})),
              "data truncated: not enough bits while reading section 4 at bit 16 for width 8 (16 bits available)");
    EXPECT_EQ(error_text(decode(make_message({1001}, 2), tables, {0x00})),
              "data truncated: not enough bits while reading section 4 at bit 7 for width 7 (8 bits available)");
}

TEST(UncompressedDecode, OutputAndWalkBounds) {
    TableSet tables = basic_tables();
    add_element(tables, 1099, "EMPTY", 0, 0, 0);
    add_sequence(tables, 301004, {});
    // A few descriptors and no data at all describe billions of values or steps.
    EXPECT_EQ(error_text(decode(make_message({104255, 103255, 102255, 101255, 1099}), tables, {})),
              "limit exceeded: decoded value count exceeds 16777216");
    EXPECT_EQ(error_text(decode(make_message({104255, 103255, 102255, 101255, 301004}), tables, {})),
              "limit exceeded: descriptor walk exceeds 67108864 steps");
    EXPECT_EQ(error_text(decode(make_message({104255, 103255, 102255, 101255, 201000}), tables, {})),
              "limit exceeded: descriptor walk exceeds 67108864 steps");
}

// Lets this process map only `extra` more bytes than it has mapped now.
void limit_address_space(std::uint64_t extra) {
    std::uint64_t pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlimit limit{pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) + extra, RLIM_INFINITY};
    ::setrlimit(RLIMIT_AS, &limit);
}

TEST(UncompressedDecodeDeathTest, DeclaredSubsetsWithoutTheirDataGetNoRoom) {
    const TableSet tables = basic_tables();
    // 65,535 subsets of 4096 values (a whole first block) declared, bits for one: the second
    // fails after its first marker.
    const BufrMessage message = make_message({102016, 101255, 222000, 101015, 222000, 1001}, 65535);
    const std::vector<std::uint8_t> data = BitWriter().bits(5, 7).bytes();
    EXPECT_EXIT(
        {
            limit_address_space(std::uint64_t{32} << 20);
            const bool failed_on_data =
                error_text(decode(message, tables, data)) ==
                "data truncated: not enough bits while reading section 4 at bit 7 for width 7 (8 bits available)";
            std::_Exit(failed_on_data ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corvane::testing
