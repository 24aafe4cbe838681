// Values of a compressed message: the walk's columns, kept raw, then regrouped subset after subset.
#include <optional>
#include <string>

#include "data/value_sinks.hpp"

namespace corvane::detail {

namespace {

struct ColumnValues : SinkBase {
    const TableSet& tables;
    CompressedColumns& out;

    // Writes the cells of one numeric column where `at` points.
    struct Cells {
        NumericCell* at;
        void all(std::uint64_t raw, bool missing) { at[0] = {raw, missing}; }
        void cell(std::uint64_t s, std::uint64_t raw, bool missing) { at[s] = {raw, missing}; }
    };

    // Keeps the texts of one text column; the characters go to the arena that the values will hold.
    struct Texts {
        ColumnValues* sink;
        Column* column;
        void all(std::optional<std::string_view> text) {
            column->uniform = true;
            store(text);
        }
        void text(std::uint64_t, std::optional<std::string_view> text) { store(text); }
        void store(std::optional<std::string_view> text) {
            sink->out.texts.push_back(text ? std::optional(sink->out.arena.store(*text)) : std::nullopt);
        }
    };

    const ElementDefinition* element(std::uint32_t code) const { return tables.find_element(code); }

    Column column_of(const WalkValue& value, ColumnKind kind) const {
        Column column;
        column.code = value.code;
        column.name = value_name(value);
        column.kind = kind;
        column.value_kind = value.kept_kind();
        return column;
    }

    template <class Read>
    Status numbers(const WalkValue& value, bool uniform, Read&& read) {
        Column column = column_of(value, ColumnKind::Numeric);
        column.uniform = uniform;
        column.reference = value.field->reference;
        column.divisor = value.field->divisor;
        if (value.has_meaning()) {
            const auto table = tables.code_tables.find(value.code);
            if (table != tables.code_tables.end()) column.meanings = &table->second;
        }
        column.first = out.cells.size();
        out.cells.resize(column.first + (uniform ? 1 : out.subsets));
        out.columns.push_back(column);
        return read(Cells{out.cells.data() + column.first});
    }

    void same_number(const WalkValue& value, std::uint64_t raw, std::optional<double> number) {
        Column column = column_of(value, ColumnKind::Same);
        column.uniform = true;
        column.same = number;
        column.first = out.cells.size();
        out.cells.push_back({raw, false});
        out.columns.push_back(column);
    }

    template <class Read>
    Status texts(const WalkValue& value, std::uint64_t first_position, Read&& read) {
        Column& column = out.columns.emplace_back(column_of(value, ColumnKind::Text));
        column.first_position = first_position;
        if (first_position != 0) column.width_bytes = value.field->width / 8;
        column.first = out.texts.size();
        return read(Texts{this, &column});
    }

    void marker(std::uint32_t code) {
        Column column;
        column.code = code;
        column.name = &operator_label();
        out.columns.push_back(column);
    }
};

// Writes one value of a column in place.
void write_value(const CompressedColumns& walk, const Column& column, std::uint64_t s, DecodedValue& value) {
    value.descriptor = column.code;
    value.name = column.name;
    value.set_kind(column.value_kind);
    const std::size_t at = column.first + (column.uniform ? 0 : s);
    switch (column.kind) {
        case ColumnKind::Numeric: {
            const NumericCell cell = walk.cells[at];
            value.set_raw(cell.raw);
            if (!cell.missing) value.set_raw_value(scaled_value(cell.raw, column.reference, column.divisor));
            if (column.meanings != nullptr) {
                const auto entry = column.meanings->find(cell.raw);
                if (entry != column.meanings->end()) value.raw_meaning = &entry->second;
            }
            break;
        }
        case ColumnKind::Text:
            if (column.first_position != 0) {
                value.set_raw_value(static_cast<double>((column.first_position + s) * 1000 + column.width_bytes));
            }
            if (const auto& text = walk.texts[at]) value.set_raw_text(*text);
            break;
        case ColumnKind::Marker:
            value.set_raw_value(0.0);
            value.set_raw(0);
            break;
        case ColumnKind::Same:
            value.set_raw(walk.cells[at].raw);
            if (column.same) value.set_raw_value(*column.same);
            break;
    }
}

}  // namespace

Result<CompressedColumns> read_compressed_columns(const BufrMessage& message, const TableSet& tables, BitReader& reader,
                                                  DecodeOptions options) {
    CompressedColumns out;
    out.subsets = message.number_of_subsets;
    ColumnValues sink{{}, tables, out};
    if (Status walked = walk_columns(message, tables, reader, options, sink); !walked) return std::move(walked).error();
    return out;
}

// Subset after subset, each value built once in its final place; the texts move with them.
DecodedValues regroup(CompressedColumns& walk) {
    DecodedValues out;
    out.values.plan(walk.value_count());
    out.subset_ends.reserve(walk.subsets);
    for (std::uint64_t s = 0; s < walk.subsets; ++s) {
        for (const Column& column : walk.columns) write_value(walk, column, s, out.values.append());
        out.subset_ends.push_back(out.values.size());
    }
    out.texts = std::move(walk.arena);
    return out;
}

Result<DecodedValues> decode_compressed_values(const BufrMessage& message, const TableSet& tables, BitReader& reader,
                                               DecodeOptions options) {
    auto columns = read_compressed_columns(message, tables, reader, options);
    if (!columns) return std::move(columns).error();
    return regroup(*columns);
}

}  // namespace corvane::detail
