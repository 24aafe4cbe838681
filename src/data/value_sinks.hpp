// Private to the decoders: the values of one message from the walk, for either layout.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bitstream/bit_reader.hpp"
#include "data/decoded_value.hpp"
#include "error/error.hpp"
#include "message/message.hpp"
#include "tables/table_set.hpp"
#include "walk/walk.hpp"

namespace corvane::detail {

// Every subset in turn, from the reader's position.
Result<DecodedValues> decode_subset_values(const BufrMessage& message, const TableSet& tables, BitReader& reader,
                                           DecodeOptions options);

// Columns keep raw numbers, not values: the regrouping builds each value once, in place.
struct NumericCell {
    std::uint64_t raw = 0;
    bool missing = false;
};

enum class ColumnKind : std::uint8_t { Numeric, Text, Marker, Same };

struct Column {
    std::uint32_t code = 0;
    const std::string* name = nullptr;
    ColumnKind kind = ColumnKind::Marker;
    ValueKind value_kind = ValueKind::Marker;
    // One cell or text for every subset (NBINC = 0).
    bool uniform = false;
    // Numeric: added to raw.
    std::int64_t reference = 0;
    double divisor = 1.0;
    // Same: the value of every subset.
    std::optional<double> same;
    const CodeTable* meanings = nullptr;
    // Text: the position number of subset 0 (none when 0), and the width in bytes.
    std::uint64_t first_position = 0;
    std::uint64_t width_bytes = 0;
    // Where this column's cells or texts start.
    std::size_t first = 0;
};

// A compressed message as read from section 4: every column, before it becomes values.
struct CompressedColumns {
    std::vector<Column> columns;
    std::vector<NumericCell> cells;
    std::vector<std::optional<std::string_view>> texts;  // point into `arena`
    TextArena arena;
    std::uint64_t subsets = 0;

    std::size_t value_count() const { return columns.size() * subsets; }
};

// The column walk: reads all of section 4 once.
Result<CompressedColumns> read_compressed_columns(const BufrMessage& message, const TableSet& tables, BitReader& reader,
                                                  DecodeOptions options = {});

// The values of the columns, subset after subset; the texts move out of `columns` with them.
DecodedValues regroup(CompressedColumns& columns);

// Both steps: all values of the message, subset after subset.
Result<DecodedValues> decode_compressed_values(const BufrMessage& message, const TableSet& tables, BitReader& reader,
                                               DecodeOptions options);

}  // namespace corvane::detail
