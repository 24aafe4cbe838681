#include <gtest/gtest.h>

#include "data/decode_test_support.hpp"

namespace corvane::testing {
namespace {

using Numbers = std::vector<std::optional<double>>;
using Codes = std::vector<std::uint32_t>;

TableSet compressed_tables() {
    TableSet tables = basic_tables();
    add_element(tables, 2010, "TEN", 1, 0, 10);
    return tables;
}

TEST(CompressedDecode, ColumnsAreRegroupedSubsetAfterSubset) {
    const TableSet tables = compressed_tables();
    auto result = decode(make_message({2010, 1001}, 2, true), tables,
                         BitWriter().bits(200, 10).bits(3, 6).bits(5, 3).bits(6, 3).bits(9, 7).bits(0, 6).bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_EQ(codes_of(*result), (Codes{2010, 1001, 2010, 1001}));
    EXPECT_EQ(result->subset_ends, (std::vector<std::size_t>{2, 4}));
    const Numbers numbers = numbers_of(*result);
    EXPECT_DOUBLE_EQ(*numbers[0], 20.5);
    EXPECT_EQ(numbers[1], 9.0);
    EXPECT_DOUBLE_EQ(*numbers[2], 20.6);
    EXPECT_EQ(numbers[3], 9.0);
    EXPECT_EQ((*result)[2].raw(), 206u);
}

TEST(CompressedDecode, MissingReferenceAndMissingIncrements) {
    const TableSet tables = compressed_tables();
    auto result = decode(make_message({2010, 2010, 20011}, 2, true), tables,
                         BitWriter()
                             .ones(10)
                             .bits(3, 6)
                             .bits(1, 3)
                             .bits(2, 3)
                             .bits(200, 10)
                             .bits(3, 6)
                             .bits(7, 3)
                             .bits(1, 3)
                             .bits(0, 4)
                             .bits(3, 6)
                             .bits(7, 3)
                             .bits(3, 3)
                             .bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    ASSERT_EQ(v.size(), 6u);
    EXPECT_FALSE(v[0].raw_value().has_value());
    EXPECT_EQ(v[0].raw(), 1023u);
    EXPECT_FALSE(v[3].raw_value().has_value());
    EXPECT_EQ(v[3].raw(), 1023u);
    // An all-ones increment makes only its subset missing, keeping raw = R0.
    EXPECT_FALSE(v[1].raw_value().has_value());
    EXPECT_EQ(v[1].raw(), 200u);
    EXPECT_DOUBLE_EQ(*v[4].raw_value(), 20.1);
    EXPECT_FALSE(v[2].raw_value().has_value());
    EXPECT_EQ(v[2].raw(), 0u);
    EXPECT_EQ(v[2].raw_meaning, nullptr);
    EXPECT_EQ(v[5].raw_value(), 3.0);
    EXPECT_EQ(*v[5].raw_meaning, "three");
}

TEST(CompressedDecode, SharedValuesAndZeroSubsets) {
    const TableSet tables = compressed_tables();
    auto shared = decode(make_message({1001}, 3, true), tables, BitWriter().bits(42, 7).bits(0, 6).bytes());
    ASSERT_TRUE(shared) << error_text(shared);
    EXPECT_EQ(numbers_of(*shared), (Numbers{42.0, 42.0, 42.0}));

    // No subsets: nothing is produced but R0 and NBINC are still read.
    auto none = decode(make_message({1001, 222000, 1001}, 0, true), tables, BitWriter().bits(42, 7).bits(0, 6).bytes());
    EXPECT_EQ(error_text(none),
              "data truncated: not enough bits while reading section 4 at bit 13 for width 7 (16 bits available)");
    auto empty = decode(make_message({1001, 222000}, 0, true), tables, BitWriter().bits(42, 7).bits(0, 6).bytes());
    ASSERT_TRUE(empty) << error_text(empty);
    EXPECT_TRUE(empty->empty());
}

TEST(CompressedDecode, ManySubsets) {
    const TableSet tables = compressed_tables();
    BitWriter writer;
    writer.bits(10, 7).bits(4, 6);
    for (std::uint32_t s = 0; s < 65535; ++s) writer.bits(s % 16, 4);
    auto result = decode(make_message({1001}, 65535, true), tables, writer.bytes());
    ASSERT_TRUE(result) << error_text(result);
    ASSERT_EQ(result->size(), 65535u);
    EXPECT_EQ((*result)[65534].raw_value(), 24.0);
    EXPECT_FALSE((*result)[15].raw_value().has_value());
}

TEST(CompressedDecode, TextColumns) {
    const TableSet tables = compressed_tables();
    BitWriter writer;
    writer.text("ABC").bits(0, 6);
    writer.text("XYZ").bits(2, 6).text("P ").ones(16).text("QR");
    writer.bits(0, 24).bits(1, 6).text("a").text("b").text("c");
    auto result = decode(make_message({1015, 1015, 1015}, 3, true), tables, writer.bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    ASSERT_EQ(v.size(), 9u);
    EXPECT_EQ(v[0].raw_text(), "ABC");
    EXPECT_EQ(v[3].raw_text(), "ABC");
    EXPECT_EQ(v[6].raw_text(), "ABC");
    EXPECT_EQ(v[1].raw_text(), "P");
    EXPECT_FALSE(v[4].raw_text().has_value());
    EXPECT_EQ(v[7].raw_text(), "QR");
    EXPECT_EQ(v[8].raw_text(), "c");
    // Column k numbers subset s as (subsets * k + s + 1) * 1000 + width in bytes.
    EXPECT_EQ(numbers_of(v), (Numbers{1003.0, 4003.0, 7003.0, 2003.0, 5003.0, 8003.0, 3003.0, 6003.0, 9003.0}));
    EXPECT_FALSE(v[0].raw().has_value());
}

TEST(CompressedDecode, NulPaddedTextColumnsOnRequest) {
    const TableSet tables = compressed_tables();
    // A shared R0 of 0xFF and NULs, then subsets "B\0" and two NULs.
    const auto data = BitWriter()
                          .bits(0xFF, 8)
                          .bits(0, 16)
                          .bits(0, 6)
                          .bits(0, 24)
                          .bits(2, 6)
                          .text("B")
                          .bits(0, 8)
                          .bits(0, 16)
                          .bytes();
    const auto message = make_message({1015, 1015}, 2, true);
    auto padded = decode(message, tables, data, {.nul_padded_texts = true});
    ASSERT_TRUE(padded) << error_text(padded);
    const auto& v = *padded;
    EXPECT_FALSE(v[0].raw_text().has_value());
    EXPECT_FALSE(v[2].raw_text().has_value());
    EXPECT_EQ(v[1].raw_text(), "B");
    EXPECT_FALSE(v[3].raw_text().has_value());
    auto plain = decode(message, tables, data);
    ASSERT_TRUE(plain) << error_text(plain);
    EXPECT_EQ((*plain)[0].raw_text(), std::string_view("?\0\0", 3));
    EXPECT_EQ((*plain)[3].raw_text(), std::string_view("\0\0", 2));
}

TEST(CompressedDecode, TextColumnPastTheEnd) {
    const TableSet tables = compressed_tables();
    EXPECT_EQ(error_text(decode(make_message({1015}, 2, true), tables,
                                BitWriter().text("ABC").bits(2, 6).text("PQ").bits(0, 2).bytes())),
              "data truncated: not enough bits while reading section 4 at bit 46 for width 8 (48 bits available)");
}

TEST(CompressedDecode, TruncatedColumns) {
    const TableSet tables = compressed_tables();
    EXPECT_EQ(error_text(decode(make_message({1001}, 2, true), tables, {0x00})),
              "data truncated: not enough bits while reading section 4 at bit 7 for width 6 (8 bits available)");
    // NBINC promises more increments than the data holds.
    EXPECT_EQ(
        error_text(decode(make_message({1001}, 2, true), tables, BitWriter().bits(1, 7).bits(9, 6).bits(0, 9).bytes())),
        "data truncated: not enough bits while reading section 4 at bit 22 for width 9 (24 bits available)");
}

TEST(CompressedDecode, DelayedReplicationNeedsOneFactor) {
    const TableSet tables = compressed_tables();
    auto same = decode(
        make_message({101000, 31001, 1001}, 2, true), tables,
        BitWriter().bits(2, 8).bits(0, 6).bits(1, 7).bits(0, 6).bits(2, 7).bits(2, 6).bits(0, 2).bits(1, 2).bytes());
    ASSERT_TRUE(same) << error_text(same);
    EXPECT_EQ(codes_of(*same), (Codes{31001, 1001, 1001, 31001, 1001, 1001}));
    EXPECT_EQ(numbers_of(*same), (Numbers{2.0, 1.0, 2.0, 2.0, 1.0, 3.0}));

    EXPECT_EQ(error_text(decode(make_message({101000, 31001, 1001}, 2, true), tables,
                                BitWriter().bits(2, 8).bits(1, 6).bits(0, 1).bits(1, 1).bytes())),
              "unsupported: compressed delayed replication with varying factors is not implemented");

    // A missing first factor replicates nothing (class 31 is missing only through R0 width).
    TableSet missing_factor = compressed_tables();
    add_element(missing_factor, 1031, "PLAIN FACTOR", 0, 0, 4);
    auto zero = decode(make_message({101000, 1031, 1001}, 2, true), missing_factor,
                       BitWriter().ones(4).bits(0, 6).bytes());
    ASSERT_TRUE(zero) << error_text(zero);
    EXPECT_EQ(codes_of(*zero), (Codes{1031, 1031}));
}

TEST(CompressedDecode, OperatorsMarkersAndAssociatedColumns) {
    const TableSet tables = compressed_tables();
    auto result = decode(make_message({204003, 1001, 31031, 204000, 222000, 201129, 1001}, 2, true), tables,
                         BitWriter()
                             .bits(7, 3)
                             .bits(0, 6)
                             .bits(5, 7)
                             .bits(0, 6)
                             .bits(1, 1)
                             .bits(0, 6)
                             .bits(100, 8)
                             .bits(2, 6)
                             .bits(0, 2)
                             .bits(1, 2)
                             .bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(codes_of(v), (Codes{999999, 1001, 31031, 222000, 1001, 999999, 1001, 31031, 222000, 1001}));
    EXPECT_EQ(v[0].raw_value(), 7.0);
    EXPECT_EQ(v[3].raw_value(), 0.0);
    EXPECT_EQ(v[4].raw_value(), 100.0);
    EXPECT_EQ(v[9].raw_value(), 101.0);
}

TEST(CompressedDecode, BitmapFromTheFirstSubset) {
    const TableSet tables = compressed_tables();
    BitWriter writer;
    writer.bits(1, 7).bits(0, 6).bits(2, 7).bits(0, 6);
    // First subset's entries: 0 (present) then 1 (absent).
    writer.bits(0, 1).bits(1, 6).bits(0, 1).bits(1, 1);
    writer.bits(1, 1).bits(1, 6).bits(0, 1).bits(0, 1);
    writer.bits(12, 7).bits(0, 6);
    auto result = decode(make_message({1001, 1001, 236000, 31031, 31031, 223255, 223255}, 2, true), tables,
                         writer.bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_EQ(codes_of(*result),
              (Codes{1001, 1001, 236000, 31031, 31031, 1001, 1001, 1001, 236000, 31031, 31031, 1001}));
    EXPECT_EQ(result->back().raw_value(), 12.0);
}

TEST(CompressedDecode, BitmapsFollowEveryOperatorThatIntroducesOne) {
    const TableSet tables = compressed_tables();
    for (const std::uint32_t x : {22u, 23u, 24u, 25u, 32u}) {
        const bool wider = x == 25;
        // 222000 has no values of its own: 223000 and 237000 reuse its bitmap.
        const std::vector<std::uint32_t> driven = x == 22 ? std::vector<std::uint32_t>{223000, 237000, 223255}
                                                          : std::vector{x * 1000 + 200255};
        std::vector<std::uint32_t> descriptors{1001, 1002, x * 1000 + 200000, 101002, 31031};
        descriptors.insert(descriptors.end(), driven.begin(), driven.end());
        BitWriter writer;
        writer.bits(5, 7).bits(0, 6).bits(20, 10).bits(0, 6);
        writer.bits(1, 1).bits(0, 6).bits(0, 1).bits(0, 6);
        writer.bits(wider ? 1024 + 30 : 30, wider ? 11 : 10).bits(2, 6).bits(0, 2).bits(1, 2);
        auto result = decode(make_message(descriptors, 2, true), tables, writer.bytes());
        ASSERT_TRUE(result) << x << ": " << error_text(result);
        ASSERT_EQ(result->size() % 2, 0u) << x;
        const auto& v = *result;
        const std::size_t half = v.size() / 2;
        EXPECT_EQ(v[half - 1].descriptor, 1002u) << x;
        EXPECT_DOUBLE_EQ(v[half - 1].raw_value().value_or(0), 3.0) << x;
        EXPECT_DOUBLE_EQ(v.back().raw_value().value_or(0), 3.1) << x;
    }
}

// Values that a bitmap attaches take the field their element was read with: 12001 read 15 bits
// wide (201131) with its table reference, though 203010 redefines it before the bitmap; 1002 with 207001.
TEST(CompressedDecode, BitmapDrivenValuesTakeTheFieldTheirElementWasReadWith) {
    const TableSet tables = compressed_tables();
    BitWriter writer;
    writer.bits(10000, 15).bits(0, 6).bits(12345, 14).bits(2, 6).bits(0, 2).bits(3, 2);
    writer.bits(512 + 50, 10).bits(0, 6);
    writer.bits(0, 1).bits(0, 6).bits(0, 1).bits(0, 6);
    writer.bits(500, 15).bits(0, 6).bits(678, 14).bits(4, 6).bits(1, 4).bits(9, 4);
    auto result = decode(make_message({201131, 12001, 201000, 207001, 1002, 207000, 203010, 12001, 203255, 224000,
                                       101002, 31031, 201129, 224255, 224255},
                                      2, true),
                         tables, writer.bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    ASSERT_EQ(v.size(), 20u);
    EXPECT_EQ(v[8].descriptor, 12001u);
    EXPECT_DOUBLE_EQ(v[8].raw_value().value_or(0), 40.0);
    EXPECT_DOUBLE_EQ(v[18].raw_value().value_or(0), 40.0);
    EXPECT_DOUBLE_EQ(v[9].raw_value().value_or(0), 6.79);
    EXPECT_DOUBLE_EQ(v[19].raw_value().value_or(0), 6.87);
}

TEST(CompressedDecode, CodeTablesAndUnknownLocalElements) {
    const TableSet tables = compressed_tables();
    // 201130 widens 12001 but not the code table 20011; 206012 gives 48001 its width.
    auto result = decode(make_message({201130, 20011, 12001, 206012, 48001}, 2, true), tables,
                         BitWriter()
                             .bits(3, 4)
                             .bits(0, 6)
                             .bits(10000, 14)
                             .bits(0, 6)
                             .bits(100, 12)
                             .bits(2, 6)
                             .bits(1, 2)
                             .bits(3, 2)
                             .bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(codes_of(v), (Codes{20011, 12001, 48001, 20011, 12001, 48001}));
    EXPECT_EQ(*v[3].raw_meaning, "three");
    EXPECT_DOUBLE_EQ(v[4].raw_value().value_or(0), 990.0);
    EXPECT_EQ(*v[2].name, "unknown local element");
    EXPECT_EQ(v[2].raw_value(), 101.0);
    // An all-ones increment is a value here, not missing.
    EXPECT_EQ(v[5].raw_value(), 103.0);
}

TEST(CompressedDecode, LocalWidthUnlikeTheTableWidthOnRequest) {
    const TableSet tables = compressed_tables();
    auto result = decode(make_message({206008, 1002, 206008, 1002}, 2, true), tables,
                         BitWriter().bits(59, 8).bits(0, 6).bits(0, 8).bits(8, 6).bits(7, 8).ones(8).bytes(),
                         {.plain_mismatched_local_widths = true});
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(*v[0].name, "unknown local element");
    EXPECT_EQ(numbers_of(v), (Numbers{59.0, 7.0, 59.0, std::nullopt}));
}

TEST(CompressedDecode, NewReferencesTakeTheFirstSubset) {
    const TableSet tables = compressed_tables();
    BitWriter writer;
    writer.bits(512 + 500, 10).bits(2, 6).bits(0, 2).bits(1, 2);
    writer.bits(600, 12).bits(0, 6);
    auto result = decode(make_message({203010, 12001, 203255, 12001, 203000}, 2, true), tables, writer.bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(codes_of(v), (Codes{203010, 12001, 203255, 12001, 203000, 203010, 12001, 203255, 12001, 203000}));
    EXPECT_EQ(v[1].raw_value(), -500.0);
    EXPECT_EQ(v[6].raw_value(), -500.0);
    EXPECT_EQ(v[6].raw(), 1012u);
    EXPECT_DOUBLE_EQ(*v[3].raw_value(), 10.0);
    EXPECT_DOUBLE_EQ(*v[8].raw_value(), 10.0);
}

TEST(CompressedDecode, CharacterDataColumns) {
    const TableSet tables = compressed_tables();
    auto result = decode(make_message({205002, 1015}, 2, true), tables,
                         BitWriter().text("AB").bits(2, 6).text("CD").text("EF").text("XYZ").bits(0, 6).bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(codes_of(v), (Codes{205002, 1015, 205002, 1015}));
    EXPECT_EQ(v[0].raw_text(), "CD");
    EXPECT_EQ(v[2].raw_text(), "EF");
    EXPECT_FALSE(v[0].raw_value().has_value());
    EXPECT_EQ(*v[0].name, "characterData");
    EXPECT_EQ(v[1].raw_value(), 1003.0);
    EXPECT_EQ(v[3].raw_value(), 2003.0);
}

TEST(CompressedDecode, DepthAndBounds) {
    TableSet tables = compressed_tables();
    add_sequence(tables, 301003, {301003});
    add_sequence(tables, 301004, {});
    EXPECT_EQ(error_text(decode(make_message({301003}, 1, true), tables, {})),
              "limit exceeded: compressed descriptor decode exceeded recursion depth");
    // 65535 subsets x 257 marker columns is counted before anything is built.
    EXPECT_EQ(error_text(decode(make_message({101255, 222000, 222000, 222000}, 65535, true), tables, {})),
              "limit exceeded: decoded value count exceeds 16777216");
    EXPECT_EQ(error_text(decode(make_message({104255, 103255, 102255, 101255, 222000}, 0, true), tables, {})),
              "limit exceeded: descriptor walk exceeds 67108864 steps");
    EXPECT_EQ(error_text(decode(make_message({104255, 103255, 102255, 101255, 301004}, 1, true), tables, {})),
              "limit exceeded: descriptor walk exceeds 67108864 steps");
}

}  // namespace
}  // namespace corvane::testing
