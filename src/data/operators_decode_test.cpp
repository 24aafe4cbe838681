#include <gtest/gtest.h>

#include "data/decode_test_support.hpp"

namespace corvane::testing {
namespace {

using Numbers = std::vector<std::optional<double>>;
using Codes = std::vector<std::uint32_t>;

TEST(OperatorDecode, WidthScaleAndLocalWidth) {
    const TableSet tables = basic_tables();
    // 201130: 12 + 2 bits; 201000 restores 12; 202129: scale 1 + 1; 206005: next element only.
    auto result = decode(make_message({201130, 12001, 201000, 12001, 202129, 1002, 202000, 206005, 1001, 1001}), tables,
                         BitWriter().bits(10000, 14).bits(373, 12).bits(200, 10).bits(17, 5).bits(100, 7).bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_EQ(codes_of(*result), (Codes{12001, 12001, 1002, 1001, 1001}));
    const Numbers numbers = numbers_of(*result);
    EXPECT_DOUBLE_EQ(*numbers[0], 990.0);
    EXPECT_DOUBLE_EQ(*numbers[1], 27.3);
    EXPECT_DOUBLE_EQ(*numbers[2], 2.0);
    EXPECT_EQ(numbers[3], 17.0);
    EXPECT_EQ(numbers[4], 100.0);
}

TEST(OperatorDecode, NegativeWidthReadsNothingAndIsMissing) {
    TableSet tables = basic_tables();
    add_element(tables, 2001, "WIDE", 0, 0, 20);
    auto result = decode(make_message({201100, 2001, 201000, 31021}), tables, BitWriter().bits(5, 6).bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_FALSE((*result)[0].raw_value().has_value());
    EXPECT_EQ((*result)[0].raw(), 0u);
    EXPECT_EQ((*result)[1].raw_value(), 5.0);
}

TEST(OperatorDecode, IncreasedWidthScaleAndReference) {
    const TableSet tables = basic_tables();
    // 207001: 16 bits, scale 2, reference -1000. A later 201000 drops only the width change.
    auto result = decode(make_message({207001, 12001, 201000, 12001, 207000, 12001}), tables,
                         BitWriter().bits(1500, 16).bits(1500, 12).bits(373, 12).bytes());
    ASSERT_TRUE(result) << error_text(result);
    const Numbers numbers = numbers_of(*result);
    EXPECT_DOUBLE_EQ(*numbers[0], 5.0);
    EXPECT_DOUBLE_EQ(*numbers[1], 5.0);
    EXPECT_DOUBLE_EQ(*numbers[2], 27.3);

    auto later = decode(make_message({201130, 207001, 12001}), tables, BitWriter().bits(1500, 16).bytes());
    ASSERT_TRUE(later) << error_text(later);
    EXPECT_DOUBLE_EQ(*(*later)[0].raw_value(), 5.0);
}

TEST(OperatorDecode, HugeIncreaseWrapsInsteadOfOverflowing) {
    TableSet tables = basic_tables();
    add_element(tables, 2002, "NARROW", 0, -3, 1);
    // 10^255 wraps in 64 bits; the width 1 + 850 cannot be read.
    EXPECT_EQ(error_text(decode(make_message({207255, 2002}), tables, BitWriter().bits(0, 64).bytes())),
              "unsupported: cannot read 851 bits into u64");
    // 10^19 wraps to 10^19 - 2^64; with width -850 nothing is read.
    auto wrapped = decode(make_message({207019, 201001, 2002}), tables, {});
    ASSERT_TRUE(wrapped) << error_text(wrapped);
    EXPECT_FALSE((*wrapped)[0].raw_value().has_value());
}

TEST(OperatorDecode, WidthScaleAndReferenceChangesLeaveCodeAndFlagTablesAlone) {
    TableSet tables = basic_tables();
    add_element(tables, 8042, "FLAGS", 0, 0, 5, "Flag table");
    auto result = decode(make_message({201130, 20011, 12001, 201000, 202129, 207001, 8042, 12001}), tables,
                         BitWriter().bits(3, 4).bits(10000, 14).bits(17, 5).bits(1500, 16).bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(v[0].raw_value(), 3.0);
    EXPECT_EQ(*v[0].raw_meaning, "three");
    EXPECT_DOUBLE_EQ(v[1].raw_value().value_or(0), 990.0);
    EXPECT_EQ(v[2].raw_value(), 17.0);
    EXPECT_DOUBLE_EQ(v[3].raw_value().value_or(0), 5.0);
}

TEST(OperatorDecode, LocalWidthReadsAnElementTheTablesLack) {
    const TableSet tables = basic_tables();
    auto result = decode(make_message({206012, 48001, 1001}), tables, BitWriter().ones(12).bits(9, 7).bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(codes_of(v), (Codes{48001, 1001}));
    EXPECT_EQ(*v[0].name, "unknown local element");
    // Unscaled and never missing; no table to give it a meaning.
    EXPECT_EQ(v[0].raw_value(), 4095.0);
    EXPECT_EQ(v[0].raw(), 4095u);
    EXPECT_EQ(v[0].raw_meaning, nullptr);
    EXPECT_EQ(v[1].raw_value(), 9.0);
    EXPECT_EQ(error_text(decode(make_message({48001}), tables, {})), "descriptor 048001 was not found in Table B");
    // Without a definition it stays out of the history that bitmaps count back over.
    EXPECT_EQ(error_text(decode(make_message({1001, 206008, 48001, 223000, 101002, 31031, 223255}), tables,
                                BitWriter().bits(1, 7).bits(2, 8).bits(1, 1).bits(0, 1).bytes())),
              "invalid data: bitmap reference is outside descriptor history");
}

TEST(OperatorDecode, LocalWidthUnlikeTheTableWidthReadsPlainBitsOnRequest) {
    const TableSet tables = basic_tables();
    // 1002 has width 10, scale 1; 12001 width 12, scale 1, reference -100.
    const auto message = make_message({206008, 1002, 206012, 12001, 1002, 206008, 1002});
    const auto data = BitWriter().bits(59, 8).bits(373, 12).bits(200, 10).ones(8).bytes();
    auto plain = decode(message, tables, data, {.plain_mismatched_local_widths = true});
    ASSERT_TRUE(plain) << error_text(plain);
    const auto& v = *plain;
    EXPECT_EQ(codes_of(v), (Codes{1002, 12001, 1002, 1002}));
    EXPECT_EQ(*v[0].name, "unknown local element");
    EXPECT_EQ(v[0].raw_value(), 59.0);
    // The table width: the table describes the bits.
    EXPECT_EQ(*v[1].name, "T");
    EXPECT_DOUBLE_EQ(v[1].raw_value().value_or(0), 27.3);
    EXPECT_DOUBLE_EQ(v[2].raw_value().value_or(0), 20.0);
    // Unlike an element the tables lack, all ones is missing.
    EXPECT_FALSE(v[3].raw_value().has_value());
    EXPECT_EQ(v[3].raw(), 255u);
    auto scaled = decode(message, tables, data);
    ASSERT_TRUE(scaled) << error_text(scaled);
    EXPECT_EQ(*(*scaled)[0].name, "B");
    EXPECT_DOUBLE_EQ((*scaled)[0].raw_value().value_or(0), 5.9);
}

TEST(OperatorDecode, AssociatedFieldsPrecedeElementsOutsideClass31) {
    const TableSet tables = basic_tables();
    auto result = decode(
        make_message({204008, 1001, 31021, 101000, 31001, 1002, 204000, 1001}), tables,
        BitWriter().ones(8).bits(3, 7).bits(4, 6).bits(1, 8).bits(9, 8).bits(100, 10).bits(6, 7).bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(codes_of(v), (Codes{999999, 1001, 31021, 31001, 999999, 1002, 1001}));
    // All ones is a value, not missing.
    EXPECT_EQ(v[0].raw_value(), 255.0);
    EXPECT_EQ(v[0].raw(), 255u);
    EXPECT_EQ(*v[0].name, "associatedField");
    EXPECT_EQ(v[4].raw_value(), 9.0);
    EXPECT_DOUBLE_EQ(*v[5].raw_value(), 10.0);
    EXPECT_EQ(v[6].raw_value(), 6.0);
}

TEST(OperatorDecode, TextWidthChange) {
    const TableSet tables = basic_tables();
    auto result = decode(make_message({208010, 1015, 208000, 1015}), tables,
                         BitWriter().text("ABCDEFGHIJ").text("XYZ").bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_EQ((*result)[0].raw_text(), "ABCDEFGHIJ");
    EXPECT_EQ((*result)[0].raw_value(), 1010.0);
    EXPECT_EQ((*result)[1].raw_text(), "XYZ");
    EXPECT_EQ((*result)[1].raw_value(), 2003.0);
}

TEST(OperatorDecode, MarkersAndOperatorsWithoutEffect) {
    const TableSet tables = basic_tables();
    const Codes marked = {222000, 223000, 224000, 225000, 232000, 226000, 227000, 229000,
                          230000, 231000, 233000, 234000, 235000, 235001, 236000, 237000,
                          237001, 238000, 239000, 240000, 241000, 242000, 262000, 223254};
    const Codes silent = {222001, 236001, 262001, 209005, 221010, 243000, 263000, 223255};
    Codes all = marked;
    all.insert(all.end(), silent.begin(), silent.end());
    auto result = decode(make_message(all), tables, {});
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_EQ(codes_of(*result), marked);
    for (const DecodedValue& value : *result) {
        EXPECT_EQ(*value.name, "operator");
        EXPECT_EQ(value.raw_value(), 0.0);
        EXPECT_EQ(value.raw(), 0u);
        EXPECT_FALSE(value.raw_text().has_value());
        EXPECT_EQ(value.raw_meaning, nullptr);
    }
}

TEST(OperatorDecode, NewReferenceValuesApplyUntilCancelled) {
    const TableSet tables = basic_tables();
    // Sign and magnitude in 10 bits: -500.
    auto result = decode(make_message({203010, 12001, 203255, 12001, 203000, 12001}), tables,
                         BitWriter().bits(512 + 500, 10).bits(600, 12).bits(600, 12).bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(codes_of(v), (Codes{203010, 12001, 203255, 12001, 203000, 12001}));
    EXPECT_EQ(*v[1].name, "T");
    EXPECT_EQ(v[1].raw(), 1012u);
    EXPECT_EQ(v[1].raw_value(), -500.0);
    EXPECT_FALSE(v[1].raw_text().has_value());
    EXPECT_EQ(v[1].raw_meaning, nullptr);
    EXPECT_DOUBLE_EQ(*v[3].raw_value(), 10.0);
    EXPECT_DOUBLE_EQ(*v[5].raw_value(), 50.0);
}

TEST(OperatorDecode, NewReferencesTakeTheMultiplierAndSkipAssociatedFieldsAndHistory) {
    const TableSet tables = basic_tables();
    auto multiplied = decode(make_message({204004, 203010, 12001, 203255, 204000, 207001, 12001}), tables,
                             BitWriter().bits(500, 10).bits(6000, 16).bytes());
    ASSERT_TRUE(multiplied) << error_text(multiplied);
    EXPECT_EQ(codes_of(*multiplied), (Codes{203010, 12001, 203255, 12001}));
    EXPECT_EQ((*multiplied)[1].raw_value(), 500.0);
    EXPECT_DOUBLE_EQ(*(*multiplied)[3].raw_value(), 110.0);

    EXPECT_EQ(error_text(decode(make_message({203010, 12001, 203255, 236000, 31031, 223255}), tables,
                                BitWriter().bits(1, 10).bits(0, 1).bytes())),
              "invalid data: bitmap reference is outside descriptor history");
}

TEST(OperatorDecode, NewReferencesEndWithTheSubset) {
    const TableSet tables = basic_tables();
    auto result = decode(make_message({12001, 203010, 12001, 203255}, 2), tables,
                         BitWriter().bits(373, 12).bits(512 + 1, 10).bits(373, 12).bits(512 + 1, 10).bytes());
    ASSERT_TRUE(result) << error_text(result);
    EXPECT_DOUBLE_EQ(*(*result)[4].raw_value(), 27.3);
}

TEST(OperatorDecode, CharacterData) {
    const TableSet tables = basic_tables();
    auto result = decode(make_message({204008, 205003, 204000, 1015, 205002}), tables,
                         BitWriter().text("ABC").text("XYZ").ones(16).bytes());
    ASSERT_TRUE(result) << error_text(result);
    const auto& v = *result;
    EXPECT_EQ(codes_of(v), (Codes{205003, 1015, 205002}));
    EXPECT_EQ(*v[0].name, "characterData");
    EXPECT_EQ(v[0].raw_text(), "ABC");
    EXPECT_FALSE(v[0].raw_value().has_value());
    EXPECT_FALSE(v[0].raw().has_value());
    // Character data takes no text number.
    EXPECT_EQ(v[1].raw_value(), 1003.0);
    EXPECT_FALSE(v[2].raw_text().has_value());
    EXPECT_EQ(error_text(decode(make_message({205003}), tables, BitWriter().text("AB").bytes())),
              "data truncated: not enough bits while reading section 4 at bit 16 for width 8 (16 bits available)");
}

}  // namespace
// Each value says what it is, in both layouts alike.
TEST(OperatorDecode, ValuesSayTheirKind) {
    const TableSet tables = basic_tables();
    const std::vector<std::uint32_t> descriptors{203010, 1001, 203255, 1001, 101000, 31001,  1002,  205002,
                                                 206005, 1099, 204003, 1001, 204000, 223000, 31031, 223255};
    // Field widths in order; the 223255 value takes the 7 bits of the last 0-01-001.
    const std::vector<unsigned> widths{10, 7, 8, 10, 16, 5, 3, 7, 1, 7};
    const auto kinds_of = [&](bool compressed) {
        BitWriter bits;
        for (const unsigned width : widths) {
            bits.bits(width == 8 ? 1 : 0, width);
            if (compressed) bits.bits(0, 6);
        }
        auto result = decode(make_message(descriptors, 1, compressed), tables, bits.bytes());
        EXPECT_TRUE(result) << error_text(result);
        std::vector<ValueKind> kinds;
        for (const DecodedValue& value : result.value()) kinds.push_back(value.kind());
        return kinds;
    };
    using enum ValueKind;
    const std::vector<ValueKind> expected{Marker,
                                          ReferenceDefinition,
                                          Marker,
                                          Element,
                                          ReplicationFactor,
                                          Element,
                                          CharacterData,
                                          UnknownLocalElement,
                                          AssociatedField,
                                          Element,
                                          Marker,
                                          Element,
                                          BitmapAttached};
    EXPECT_EQ(kinds_of(false), expected);
    EXPECT_EQ(kinds_of(true), expected);
}

}  // namespace corvane::testing
