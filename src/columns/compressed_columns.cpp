// Columns of a compressed message: each column of section 4 goes straight into the rows of
// every subset.
#include <algorithm>
#include <limits>

#include "columns/column_walks.hpp"
#include "data/decoded_value.hpp"

namespace corvane::detail {

namespace {

struct IntegerCells {
    std::int64_t* rows;
    std::int64_t reference;
    double divisor;
    std::uint64_t subsets;
    std::int64_t code(std::uint64_t raw, bool missing) const {
        return missing ? kMissingCode : to_integer(scaled_value(raw, reference, divisor));
    }
    void all(std::uint64_t raw, bool missing) { std::fill(rows, rows + subsets, code(raw, missing)); }
    void cell(std::uint64_t s, std::uint64_t raw, bool missing) { rows[s] = code(raw, missing); }
};

struct TextRows {
    TableBuilder& out;
    std::int32_t column;
    std::uint64_t subsets;
    void all(std::optional<std::string_view> value) {
        if (!value) return;
        for (std::uint64_t s = 0; s < subsets; ++s) out.put_text(column, out.base_row() + s, *value);
    }
    void text(std::uint64_t s, std::optional<std::string_view> value) {
        if (value) out.put_text(column, out.base_row() + s, *value);
    }
};

struct MessageColumns : SinkBase {
    TableBuilder& out;
    std::uint64_t subsets;

    const ElementDefinition* element(std::uint32_t code) { return out.element(code); }

    std::int32_t column_of(const WalkValue& value) {
        if (value.defining) return kNoColumn;
        return out.message_column({value_name(value), value.code, value.kind});
    }

    template <class Read>
    Status numbers(const WalkValue& value, bool, Read&& read) {
        const std::int32_t column = column_of(value);
        if (column == kNoColumn) return read(SkipCells{});
        if (double* floats = out.float_rows(column)) {
            return read(FloatCells{floats, value.field->reference, value.field->divisor, subsets});
        }
        if (std::int64_t* integers = out.integer_rows(column)) {
            return read(IntegerCells{integers, value.field->reference, value.field->divisor, subsets});
        }
        return read(SkipCells{});
    }

    // Only new reference values, which no column holds.
    void same_number(const WalkValue&, std::uint64_t, std::optional<double>) {}

    template <class Read>
    Status texts(const WalkValue& value, std::uint64_t, Read&& read) {
        const std::int32_t column = column_of(value);
        if (column == kNoColumn || out.type(column) != ColumnType::Text) return read(SkipTexts{});
        return read(TextRows{out, column, subsets});
    }

    void marker(std::uint32_t) {}
};

}  // namespace

Status decode_compressed_columns(const BufrMessage& message, const TableSet& tables, DecodeOptions options,
                                 BitReader& reader, TableBuilder& out) {
    MessageColumns sink{{}, out, message.number_of_subsets};
    return walk_columns(message, tables, reader, options, sink);
}

}  // namespace corvane::detail
