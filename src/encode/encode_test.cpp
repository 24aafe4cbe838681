#include "encode/encode.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <variant>
#include <vector>

#include "data/decode_test_support.hpp"
#include "message/message.hpp"

namespace corvane::testing {
namespace {

// What a decoded value holds, markers left out: a number, a text or missing.
using Held = std::variant<std::monostate, double, std::string>;

std::vector<Held> held_values(const DecodedValues& values) {
    std::vector<Held> held;
    for (const DecodedValue& value : values) {
        if (value.kind() == ValueKind::Marker) continue;
        if (value.raw_text()) {
            held.emplace_back(std::string(*value.raw_text()));
        } else if (value.raw_value() && value.kind() != ValueKind::CharacterData &&
                   !(value.kind() == ValueKind::Element && value.descriptor == 1015)) {
            held.emplace_back(*value.raw_value());
        } else {
            held.emplace_back();
        }
    }
    return held;
}

std::vector<Held> held_inputs(const std::vector<InputValue>& inputs) {
    std::vector<Held> held;
    for (const InputValue& input : inputs) {
        if (input.kind == InputValue::Kind::Number) held.emplace_back(input.number);
        if (input.kind == InputValue::Kind::Text) held.emplace_back(std::string(input.text));
        if (input.kind == InputValue::Kind::Missing) held.emplace_back();
    }
    return held;
}

Result<DecodedValues> encode_and_decode(const TableSet& tables, const std::vector<std::uint32_t>& descriptors,
                                        const std::vector<SubsetInput>& subsets) {
    MessageHeader header;
    header.centre = 98;
    header.year = 2024;
    Result<std::vector<std::uint8_t>> bytes = encode_message(header, tables, descriptors, subsets);
    if (!bytes) return std::move(bytes).error();
    Result<BufrMessage> message = parse_message(*bytes);
    if (!message) return std::move(message).error();
    EXPECT_EQ(message->originating_centre, 98);
    EXPECT_EQ(message->unexpanded_descriptors, descriptors);
    return decode(
        *message, tables,
        std::vector<std::uint8_t>(bytes->begin() + static_cast<std::ptrdiff_t>(message->section4_data_offset),
                                  bytes->begin() + static_cast<std::ptrdiff_t>(message->section4_data_offset +
                                                                               message->section4_data_length)),
        kPackageDecodeOptions);
}

const InputValue kMissing{};

TEST(Encode, EveryOperatorFamilyReadsBackAsWritten) {
    TableSet tables = basic_tables();
    add_element(tables, 1003, "C", 0, 0, 10);
    // 201/202 change width and scale, 204 adds an associated field, a delayed replication of
    // texts, 205 character data, 203 a new reference value for T, 207 all three, 222000 a
    // quality bitmap over the three elements before it.
    const std::vector<std::uint32_t> descriptors = {
        1001,   201130, 1001,  201000, 202129, 12001,  202000, 204003, 1002,   204000, 101000, 31001, 1015,
        205002, 203010, 12001, 203255, 12001,  203000, 207001, 12001,  207000, 222000, 101003, 31031, 1003};
    const std::vector<InputValue> first = {
        InputValue::of(5.0),  InputValue::of(300.0), InputValue::of(12.34), InputValue::of(6.0),
        InputValue::of(12.3), InputValue::of(2.0),   InputValue::of("ab"),  InputValue::of("xyz"),
        InputValue::of("hi"), InputValue::of(-50.0), InputValue::of(10.0),  InputValue::of(-9.5),
        InputValue::of(0.0),  InputValue::of(1.0),   InputValue::of(0.0),   InputValue::of(1000.0)};
    const std::vector<InputValue> second = {kMissing,
                                            InputValue::of(510.0),
                                            kMissing,
                                            InputValue::of(7.0),
                                            InputValue::of(0.0),
                                            InputValue::of(0.0),
                                            kMissing,
                                            InputValue::of(-50.0),
                                            InputValue::of(-3.0),
                                            kMissing,
                                            InputValue::of(1.0),
                                            InputValue::of(1.0),
                                            InputValue::of(1.0),
                                            kMissing};
    auto decoded = encode_and_decode(tables, descriptors, {first, second});
    ASSERT_TRUE(decoded) << error_text(decoded);
    std::vector<Held> expected = held_inputs(first);
    const std::vector<Held> later = held_inputs(second);
    expected.insert(expected.end(), later.begin(), later.end());
    EXPECT_EQ(held_values(*decoded), expected);
}

TEST(Encode, ValuesThatCannotBeWrittenSayWhereAndWhatFits) {
    const TableSet tables = basic_tables();
    const auto failure = [&](std::vector<std::uint32_t> descriptors, std::vector<InputValue> values) {
        Result<std::vector<std::uint8_t>> written = encode_message(MessageHeader{}, tables, descriptors,
                                                                   std::vector<SubsetInput>{values});
        return written ? std::string("written") : written.error().text();
    };
    // T: 12 bits, scale 1, reference -100; all ones is missing.
    EXPECT_EQ(failure({12001}, {InputValue::of(400.0)}),
              "the value 400.0 of 012001 of subset 1 does not fit its 12-bit field: it takes -10.0 to 399.4 in "
              "steps of 0.1");
    EXPECT_EQ(failure({12001}, {InputValue::of(399.4)}), "written");
    EXPECT_EQ(failure({1001}, {}),
              "subset 1 has 0 values, and its descriptors need more: the next is 001001; give one value per "
              "value that Message.values() lists");
    EXPECT_EQ(failure({1001}, {InputValue::of(1.0), InputValue::of(2.0)}),
              "subset 1 has 2 values, but its descriptors take 1: give one value per value that Message.values() "
              "lists");
    EXPECT_EQ(failure({1001}, {InputValue::of("x")}),
              "the text \"x\" stands where 001001 of subset 1 takes a number (or None for missing)");
    EXPECT_EQ(failure({1015}, {InputValue::of("abcd")}),
              "the text \"abcd\" of 001015 of subset 1 does not fit its field of 3 characters: it is longer");
    EXPECT_EQ(failure({203004, 1001, 203255}, {InputValue::of(8.0)}),
              "the new reference value 8.0 of 001001 of subset 1 does not fit its 4-bit field: it takes whole "
              "numbers from -7 to 7");
}

}  // namespace
}  // namespace corvane::testing
