// Writing BUFR: section 4 from the values of each subset, by the same walk that reads it (so that
// what one writes the other reads back), and whole edition-4 messages around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "error/error.hpp"
#include "tables/table_set.hpp"

namespace corvane {

// One value to write: a number, a text (UTF-8, written as Latin-1 padded with blanks), or
// missing (all ones).
struct InputValue {
    enum class Kind : std::uint8_t { Missing, Number, Text };
    Kind kind = Kind::Missing;
    double number = 0.0;
    std::string_view text;

    static InputValue of(double number) { return {Kind::Number, number, {}}; }
    static InputValue of(std::string_view text) { return {Kind::Text, 0.0, text}; }
};

// The values of one subset in the order the reader lists them: replication factors, associated
// fields, new reference values and character data each in their place.
using SubsetInput = std::span<const InputValue>;

// Numbers alone, as a 2-D array of doubles holds them (NaN for missing): value i of subset s at
// `data + s * subset_stride + i * value_stride` bytes, in native byte order, aligned or not.
struct NumberGrid {
    const std::uint8_t* data = nullptr;
    std::size_t subsets = 0;
    std::size_t values = 0;
    std::ptrdiff_t subset_stride = 0;
    std::ptrdiff_t value_stride = 0;
};

// What sections 1 to 3 say besides the descriptors.
struct MessageHeader {
    std::uint8_t master_table = 0;
    std::uint16_t centre = 0;
    std::uint16_t subcentre = 0;
    std::uint8_t update_sequence = 0;
    std::uint8_t data_category = 0;
    std::uint8_t international_subcategory = 0xFF;
    std::uint8_t local_subcategory = 0;
    std::uint8_t master_version = 0;
    std::uint8_t local_version = 0;
    std::uint16_t year = 0;
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint8_t second = 0;
    bool observed = true;
    // The compressed layout: each value a column for every subset.
    bool compressed = false;
    // The local data of section 2, when `has_section2`.
    bool has_section2 = false;
    std::span<const std::uint8_t> section2;
};

// The data of section 4 (after its four header octets) of an uncompressed message, padded to
// whole octets. A value that does not fit its field, a subset with too few or too many values, or
// a text where a number goes (or the other way round) fails, naming the subset and the key.
Result<std::vector<std::uint8_t>> encode_subsets(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                                 std::span<const SubsetInput> subsets);
Result<std::vector<std::uint8_t>> encode_subsets(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                                 const NumberGrid& subsets);

// The data of section 4 of a compressed message from the same values, padded to whole octets.
// Every subset must take the same replications and new reference values; a column that cannot be
// compressed (a text of more than 63 octets that differs between subsets) fails as a value that
// does not fit does.
Result<std::vector<std::uint8_t>> encode_columns(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                                 std::span<const SubsetInput> subsets);
Result<std::vector<std::uint8_t>> encode_columns(const TableSet& tables, std::span<const std::uint32_t> descriptors,
                                                 const NumberGrid& subsets);

// A whole edition-4 message, compressed as the header says: sections 0 to 5.
Result<std::vector<std::uint8_t>> encode_message(const MessageHeader& header, const TableSet& tables,
                                                 std::span<const std::uint32_t> descriptors,
                                                 std::span<const SubsetInput> subsets);
Result<std::vector<std::uint8_t>> encode_message(const MessageHeader& header, const TableSet& tables,
                                                 std::span<const std::uint32_t> descriptors, const NumberGrid& subsets);

}  // namespace corvane
