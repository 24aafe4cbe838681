#include <gtest/gtest.h>

#include "data/decode_test_support.hpp"

namespace corvane::testing {
namespace {

using Numbers = std::vector<std::optional<double>>;
using Codes = std::vector<std::uint32_t>;

// 1001, 1002, 12001, 1001, 1002 then a bitmap over them: present, absent, present, absent, absent.
std::vector<std::uint8_t> bitmap_data(unsigned extra_reads) {
    BitWriter writer;
    writer.bits(1, 7).bits(2, 10).bits(373, 12).bits(4, 7).bits(5, 10);
    writer.bits(0, 1).bits(1, 1).bits(0, 1).bits(1, 1).bits(1, 1);
    for (unsigned i = 0; i < extra_reads; ++i) writer.bits(10 + i, 7).bits(380 + i, 12);
    return writer.bytes();
}

TEST(OperatorDecode, BitmapDrivenValuesFollowTheBitmapAndRestartAfter237000) {
    const TableSet tables = basic_tables();
    auto result = decode(make_message({1001, 1002, 12001, 1001, 1002, 236000, 101005, 31031, 223000, 223255, 223255,
                                       223255, 237000, 223255, 223255}),
                         tables, bitmap_data(2));
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(codes_of(v), (Codes{1001, 1002, 12001, 1001, 1002, 236000, 31031, 31031, 31031, 31031, 31031, 223000,
                                  1001, 12001, 237000, 1001, 12001}));
    EXPECT_EQ(v[12].raw_value(), 10.0);
    EXPECT_EQ(*v[12].name, "A");
    EXPECT_DOUBLE_EQ(*v[13].raw_value(), 28.0);
    EXPECT_EQ(v[15].raw_value(), 11.0);
    EXPECT_DOUBLE_EQ(*v[16].raw_value(), 28.1);
}

TEST(OperatorDecode, BitmapReferencesPastTheHistoryFail) {
    const TableSet tables = basic_tables();
    // Three entries for one element: counted from index 0, entry 2 is past the history.
    const auto data = BitWriter().bits(1, 7).bits(0, 1).bits(1, 1).bits(0, 1).bits(9, 7).bytes();
    EXPECT_EQ(error_text(decode(make_message({1001, 236000, 31031, 31031, 31031, 223255, 223255}), tables, data)),
              "invalid data: bitmap reference is outside descriptor history");
    auto first = decode(make_message({1001, 236000, 31031, 31031, 31031, 223255}), tables, data);
    ASSERT_TRUE(first) << error_text(first);
    EXPECT_EQ(first->back().raw_value(), 9.0);
}

TEST(OperatorDecode, BitmapsFollowEveryOperatorThatIntroducesOne) {
    const TableSet tables = basic_tables();
    for (const std::uint32_t x : {23u, 24u, 25u, 32u}) {
        const bool wider = x == 25;  // 225255: one more bit, reference -(2^width)
        BitWriter writer;
        writer.bits(5, 7).bits(373, 12).bits(20, 10);
        writer.bits(3, 8).bits(0, 1).bits(1, 1).bits(0, 1);
        writer.bits(wider ? 128 + 9 : 9, wider ? 8 : 7).bits(wider ? 1024 + 30 : 30, wider ? 11 : 10);
        auto result = decode(make_message({1001, 12001, 1002, x * 1000 + 200000, 101000, 31001, 31031,
                                           x * 1000 + 200255, x * 1000 + 200255, x * 1000 + 200255}),
                             tables, writer.bytes());
        ASSERT_TRUE(result) << x << ": " << error_text(result);
        EXPECT_EQ(codes_of(*result),
                  (Codes{1001, 12001, 1002, x * 1000 + 200000, 31001, 31031, 31031, 31031, 1001, 1002}))
            << x;
        EXPECT_EQ((*result)[8].raw_value(), 9.0) << x;
        EXPECT_DOUBLE_EQ((*result)[9].raw_value().value_or(0), 3.0) << x;
    }
}

TEST(OperatorDecode, ABitmapIsTheRunOf031031RightAfterItsOperator) {
    const TableSet tables = basic_tables();
    // The run ends at 1001: the 031031 after it is an element, and the bitmap has two entries.
    auto ended = decode(
        make_message({1001, 1002, 223000, 101002, 31031, 1001, 31031, 223255, 223255}), tables,
        BitWriter().bits(1, 7).bits(2, 10).bits(1, 1).bits(0, 1).bits(3, 7).bits(0, 1).bits(4, 10).bytes());
    ASSERT_TRUE(ended) << error_text(ended);
    EXPECT_EQ(codes_of(*ended), (Codes{1001, 1002, 223000, 31031, 31031, 1001, 31031, 1002}));
    EXPECT_DOUBLE_EQ(ended->back().raw_value().value_or(0), 0.4);
    // An element between the operator and 031031 means the operator has no bitmap.
    auto none = decode(make_message({1001, 222000, 1001, 31031, 223255}), tables,
                       BitWriter().bits(1, 7).bits(2, 7).bits(0, 1).bytes());
    ASSERT_TRUE(none) << error_text(none);
    EXPECT_EQ(codes_of(*none), (Codes{1001, 222000, 1001, 31031}));
}

// 1001, 12001, 1002; a first bitmap over them, 33007 quality values, then further bitmaps.
TableSet quality_tables() {
    TableSet tables = basic_tables();
    add_element(tables, 33007, "CONFIDENCE", 0, 0, 7, "%");
    return tables;
}

TEST(OperatorDecode, LaterBitmapsCountBackFromWhereTheFirstDidUntil235000) {
    const TableSet tables = quality_tables();
    BitWriter writer;
    writer.bits(5, 7).bits(373, 12).bits(20, 10);
    writer.bits(0, 1).bits(1, 1).bits(1, 1).bits(90, 7);
    // Not the quality values and the factor before 223000: the three elements again.
    writer.bits(3, 8).bits(1, 1).bits(1, 1).bits(0, 1).bits(40, 10);
    // 237000 without a bitmap marked by 236000 takes the latest.
    writer.bits(41, 10);
    // After 235000 a bitmap counts back from its own operator: the last two elements.
    writer.bits(6, 7).bits(1, 1).bits(0, 1).bits(50, 7);
    auto result = decode(
        make_message({1001,   12001,  1002,   222000, 101003, 31031, 33007,  223000, 101000, 31001, 31031,
                      223255, 224000, 237000, 224255, 235000, 1001,  232000, 101002, 31031,  232255}),
        tables, writer.bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_EQ(codes_of(*result),
              (Codes{1001,  12001, 1002,   222000, 31031, 31031,  31031, 33007,  223000, 31001, 31031, 31031,
                     31031, 1002,  224000, 237000, 1002,  235000, 1001,  232000, 31031,  31031, 1001}));
    EXPECT_DOUBLE_EQ((*result)[13].raw_value().value_or(0), 4.0);
    EXPECT_DOUBLE_EQ((*result)[16].raw_value().value_or(0), 4.1);
    EXPECT_EQ(result->back().raw_value(), 50.0);
}

TEST(OperatorDecode, Reuse237000PrefersTheBitmapMarkedBy236000) {
    const TableSet tables = quality_tables();
    BitWriter writer;
    writer.bits(5, 7).bits(373, 12).bits(20, 10);
    writer.bits(0, 1).bits(1, 1).bits(1, 1).bits(90, 7);
    writer.bits(1, 1).bits(1, 1).bits(0, 1).bits(40, 10);
    writer.bits(9, 7);
    auto result = decode(make_message({1001, 12001, 1002, 222000, 236000, 101003, 31031, 33007, 223000, 101003, 31031,
                                       223255, 224000, 237000, 224255}),
                         tables, writer.bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_EQ(result->back().descriptor, 1001u);
    EXPECT_EQ(result->back().raw_value(), 9.0);
}

TEST(OperatorDecode, AHugeBitmapOfAbsentEntriesCanBeReusedOften) {
    const TableSet tables = basic_tables();
    // 255 x 255 entries that cost no bits: 031031 reads 0 bits over a new reference of 1
    // ("not present"). Then 255 x 255 lookups, each after 237000 has rewound the bitmap: a
    // lookup that walked the absent entries took seconds here.
    auto result = decode(
        make_message({203002, 31031, 203255, 236000, 103255, 102255, 206000, 31031, 103255, 102255, 237000, 223255}),
        tables, BitWriter().bits(1, 2).bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_EQ(result->size(), 4u + 2u * 255u * 255u);
    EXPECT_EQ(result->back().descriptor, 237000u);
}

TEST(OperatorDecode, BitmapDrivenValuesLeaveAPendingLocalWidthToTheNextElement) {
    const TableSet tables = basic_tables();
    auto result = decode(make_message({1001, 236000, 31031, 206003, 223255, 1001, 1001}), tables,
                         BitWriter().bits(1, 7).bits(0, 1).bits(5, 7).bits(6, 3).bits(7, 7).bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_EQ(numbers_of(*result), (Numbers{1.0, 0.0, 0.0, 5.0, 6.0, 7.0}));
}

TEST(OperatorDecode, DifferenceStatisticsWidenAndShiftTheReference) {
    TableSet tables = basic_tables();
    add_element(tables, 2063, "WIDE63", 0, 0, 63);
    add_element(tables, 2064, "WIDE64", 0, 0, 64);
    auto result = decode(make_message({12001, 236000, 31031, 225255}), tables,
                         BitWriter().bits(373, 12).bits(0, 1).bits(5000, 13).bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_EQ(result->back().descriptor, 12001u);
    EXPECT_DOUBLE_EQ(*result->back().raw_value(), 90.4);

    // 2^63 must not overflow: width 64, reference -(2^63).
    auto wide = decode(make_message({2063, 236000, 31031, 225255}), tables,
                       BitWriter().bits(1, 63).bits(0, 1).bits((std::uint64_t{1} << 63) + 10, 64).bytes());
    ASSERT_TRUE(wide) << error_text(wide);
    EXPECT_EQ(wide->back().raw_value(), 10.0);
    EXPECT_EQ(error_text(decode(make_message({2064, 236000, 31031, 225255}), tables,
                                BitWriter().bits(1, 64).bits(0, 1).bits(0, 64).bits(0, 8).bytes())),
              "unsupported: cannot read 65 bits into u64");
}

}  // namespace
}  // namespace corvane::testing
