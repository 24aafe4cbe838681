// Hand-built tables and section-4 bit strings for the decoder tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/decoder.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"

namespace corvane::testing {

// Appends fields most significant bit first, as section 4 holds them.
class BitWriter {
public:
    BitWriter& bits(std::uint64_t value, unsigned width) {
        for (unsigned i = width; i-- > 0;) push(((value >> i) & 1) != 0);
        return *this;
    }
    BitWriter& text(const std::string& characters) {
        for (const char c : characters) bits(static_cast<std::uint8_t>(c), 8);
        return *this;
    }
    BitWriter& ones(unsigned width) {
        for (unsigned i = 0; i < width; ++i) push(true);
        return *this;
    }
    std::vector<std::uint8_t> bytes() const { return bytes_; }

private:
    void push(bool bit) {
        if (count_ % 8 == 0) bytes_.push_back(0);
        if (bit) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (0x80u >> (count_ % 8)));
        ++count_;
    }
    std::vector<std::uint8_t> bytes_;
    std::uint64_t count_ = 0;
};

inline void add_element(TableSet& tables, std::uint32_t code, std::string name, std::int32_t scale,
                        std::int64_t reference, std::uint16_t width, std::string unit = "K") {
    ElementDefinition element;
    element.code = code;
    element.name = std::move(name);
    element.unit = std::move(unit);
    element.scale = scale;
    element.reference = reference;
    element.width = width;
    tables.store_element(std::move(element));
}

inline void add_sequence(TableSet& tables, std::uint32_t code, std::vector<std::uint32_t> members) {
    tables.store_sequence(SequenceDefinition{code, std::move(members)});
}

// The elements most tests need:
//   1001 "A" width 7, 1002 "B" width 10 scale 1, 12001 "T" width 12 scale 1 ref -100,
//   1015 "NAME" text of 3 bytes, 31001 factor width 8, 31002 factor width 16,
//   31031 bitmap bit width 1, 31021 width 6, 20011 width 4 with a code table.
inline TableSet basic_tables() {
    TableSet tables;
    add_element(tables, 1001, "A", 0, 0, 7);
    add_element(tables, 1002, "B", 1, 0, 10);
    add_element(tables, 12001, "T", 1, -100, 12);
    add_element(tables, 1015, "NAME", 0, 0, 24, "CCITT IA5");
    add_element(tables, 31001, "FACTOR", 0, 0, 8, "Numeric");
    add_element(tables, 31002, "WIDE FACTOR", 0, 0, 16, "Numeric");
    add_element(tables, 31031, "BIT", 0, 0, 1, "Numeric");
    add_element(tables, 31021, "SIGNIFICANCE", 0, 0, 6, "CODE TABLE");
    add_element(tables, 20011, "CLOUD", 0, 0, 4, "CODE TABLE");
    tables.store_code_table(20011, CodeTable{{3, "three"}, {15, "missing"}});
    return tables;
}

inline BufrMessage make_message(std::vector<std::uint32_t> descriptors, std::uint16_t subsets = 1,
                                bool compressed = false) {
    BufrMessage message;
    message.edition = 4;
    message.number_of_subsets = subsets;
    message.compressed_data = compressed;
    message.unexpanded_descriptors = std::move(descriptors);
    return message;
}

inline Result<DecodedValues> decode(const BufrMessage& message, const TableSet& tables,
                                    const std::vector<std::uint8_t>& data, DecodeOptions options = {}) {
    return decode_uncompressed_values(message, tables, data, options);
}

inline std::vector<std::uint32_t> codes_of(const DecodedValues& values) {
    std::vector<std::uint32_t> codes;
    for (const DecodedValue& value : values) codes.push_back(value.descriptor);
    return codes;
}

inline std::vector<std::optional<double>> numbers_of(const DecodedValues& values) {
    std::vector<std::optional<double>> numbers;
    for (const DecodedValue& value : values) numbers.push_back(value.raw_value());
    return numbers;
}

// The rendered error of a failed decode, or "ok".
inline std::string error_text(const Result<DecodedValues>& result) {
    return result ? std::string("ok") : result.error().render();
}

}  // namespace corvane::testing
