#include "data/compressed_walk.hpp"

#include <array>
#include <cmath>
#include <optional>
#include <span>
#include <string>

#include "data/coding_state.hpp"
#include "data/decoder.hpp"
#include "data/descriptor_walk.hpp"
#include "data/element_reading.hpp"
#include "data/element_rules.hpp"
#include "data/operators.hpp"
#include "descriptor/descriptor.hpp"

namespace corvane::detail {

namespace {

struct Walk : SectionWalk {
    ValueCodingState state;
    std::uint64_t subsets;
    std::vector<Column> columns;
    std::vector<NumericCell> cells;
    std::vector<std::optional<std::string_view>> texts;
    TextArena arena;
    bool defining_references = false;
};

// Counts the values a column will add before any is produced.
Status check_room(const Walk& walk) {
    if (walk.subsets != 0 && (walk.columns.size() + 1) * walk.subsets > kMaxDecodedValues) return too_many_values();
    return {};
}

// With no subsets a column yields no value: only its bits count.
void append_column(Walk& walk, Column column, ValueKind kind) {
    if (walk.defining_references && kind != ValueKind::Marker) kind = ValueKind::ReferenceDefinition;
    column.value_kind = kind;
    if (walk.subsets != 0) walk.columns.push_back(column);
}

// R0, NBINC and one increment per subset, appended to `cells` (one cell when NBINC is 0).
Result<Column> read_compressed_numeric_column(std::uint32_t code, const std::string* name, const NumericField& field,
                                              bool check_missing, std::uint64_t subsets, BitReader& reader,
                                              std::vector<NumericCell>& cells) {
    if (field.width > 64) return width_error(field.width);
    const auto width = static_cast<std::uint16_t>(field.width);
    std::uint64_t r0;
    std::uint64_t nbinc;
    if (!reader.try_read_u64(width, r0)) return reader.read_error(width);
    if (!reader.try_read_u64(6, nbinc)) return reader.read_error(6);
    const bool all_missing = is_missing(r0, width, check_missing);
    Column column;
    column.code = code;
    column.name = name;
    column.kind = ColumnKind::Numeric;
    column.reference = field.reference;
    column.divisor = field.divisor;
    column.first = cells.size();
    if (nbinc == 0) {
        column.uniform = true;
        if (subsets != 0) cells.push_back({r0, all_missing});
        return column;
    }
    const auto increment_width = static_cast<std::uint16_t>(nbinc);
    const std::uint64_t increment_missing = check_missing ? all_ones(increment_width) : ~std::uint64_t{0};
    cells.resize(cells.size() + subsets);
    NumericCell* out = cells.data() + column.first;
    for (std::uint64_t s = 0; s < subsets; ++s) {
        std::uint64_t increment;
        if (!reader.try_read_u64(increment_width, increment)) {
            cells.resize(column.first);
            return reader.read_error(increment_width);
        }
        const bool missing = all_missing || increment == increment_missing;
        out[s] = {missing ? r0 : r0 + increment, missing};
    }
    return column;
}

// Keeps one cell of a text column; the characters go to the arena that the values will hold.
void store_text(Walk& walk, std::optional<std::string_view> text) {
    walk.texts.push_back(text ? std::optional(walk.arena.store(*text)) : std::nullopt);
}

// A text column: R0 of `width` bits, NBINC, then NBINC bytes per subset.
Status read_compressed_text_column(Walk& walk, Column& column, std::uint16_t width) {
    if (Status read = read_field_bytes(walk.reader, width, walk.field.data()); !read) return read;
    std::uint64_t nbinc;
    if (!walk.reader.try_read_u64(6, nbinc)) return walk.reader.read_error(6);
    column.kind = ColumnKind::Text;
    column.first = walk.texts.size();
    if (nbinc == 0) {
        column.uniform = true;
        if (walk.subsets != 0) store_text(walk, decode_ia5_text(walk.field, (width + 7u) / 8, walk.options));
        return {};
    }
    const auto bytes = static_cast<std::uint16_t>(nbinc);
    for (std::uint64_t s = 0; s < walk.subsets; ++s) {
        if (Status read = read_field_bytes(walk.reader, static_cast<std::uint16_t>(bytes * 8), walk.field.data()); !read) {
            walk.texts.resize(column.first);
            return read;
        }
        store_text(walk, decode_ia5_text(walk.field, bytes, walk.options));
    }
    return {};
}

// One column of the element, read with `field`.
Result<Column> read_compressed_element_column(Walk& walk, const ElementDefinition& element, const NumericField& field,
                                              bool check_missing) {
    ValueCodingState& state = walk.state;
    if (element.is_text()) {
        const auto width = static_cast<std::uint16_t>(field.width);
        Column column;
        column.code = element.code;
        column.name = &element.name;
        column.numbered = true;
        column.first_position = walk.subsets * state.numbering.text_column_counter++ + 1;
        column.width_bytes = width / 8;
        if (Status read = read_compressed_text_column(walk, column, width); !read) return std::move(read).error();
        return column;
    }
    auto column = read_compressed_numeric_column(element.code, &element.name, field, check_missing, walk.subsets,
                                                 walk.reader, walk.cells);
    if (column) {
        const auto table = walk.tables.code_tables.find(element.code);
        if (table != walk.tables.code_tables.end()) column->meanings = &table->second;
    }
    return column;
}

// The value of subset 0 for the walk's own use; nothing when missing, text or absent.
std::optional<double> first_value(const Walk& walk, const Column& column) {
    if (walk.subsets == 0 || column.kind != ColumnKind::Numeric) return std::nullopt;
    const NumericCell& cell = walk.cells[column.first];
    if (cell.missing) return std::nullopt;
    return scaled_value(cell.raw, column.reference, column.divisor);
}

Result<std::uint64_t> compressed_replication_count(const Walk& walk, const Column& column) {
    const std::optional<double> first = first_value(walk, column);
    if (!first) return std::uint64_t{0};
    if (!column.uniform) {
        for (std::uint64_t s = 1; s < walk.subsets; ++s) {
            const NumericCell& cell = walk.cells[column.first + s];
            if (cell.missing ||
                !(std::fabs(scaled_value(cell.raw, column.reference, column.divisor) - *first) <= 0x1p-52)) {
                return BufrError::parse("compressed delayed replication with varying factors is not implemented");
            }
        }
    }
    return replication_count(first);
}

Status read_new_reference_column(Walk& walk, const ElementDefinition& element, std::uint16_t width) {
    NumericField field;
    field.width = width;
    auto column = read_compressed_numeric_column(element.code, &element.name, field, false, walk.subsets, walk.reader,
                                                 walk.cells);
    if (!column) return std::move(column).error();
    // Every subset shares the first subset's reference.
    const std::uint64_t bits = walk.subsets == 0 ? 0 : walk.cells[column->first].raw;
    const std::int64_t reference = end_new_reference(walk.state.operators, element.code, bits, width);
    walk.cells.resize(column->first);
    if (walk.subsets != 0) walk.cells.push_back({bits, false});
    column->kind = ColumnKind::NewReference;
    column->uniform = true;
    column->reference = reference;
    append_column(walk, *column, ValueKind::ReferenceDefinition);
    return {};
}

Status read_unknown_local_element(Walk& walk, std::uint32_t code, const ElementStep& step) {
    NumericField field;
    field.width = step.width;
    auto column = read_compressed_numeric_column(code, &unknown_local_element_label(), field, step.check_missing,
                                                 walk.subsets, walk.reader, walk.cells);
    if (!column) return std::move(column).error();
    append_column(walk, *column, ValueKind::UnknownLocalElement);
    end_unknown_local_element(walk.state);
    return {};
}

Status decode_element(Walk& walk, std::uint32_t code) {
    const ElementStep step = begin_element(walk.state.operators, walk.tables, code, walk.options);
    if (step.associated_width != 0) {
        if (Status room = check_room(walk); !room) return room;
        NumericField field;
        field.width = step.associated_width;
        auto associated = read_compressed_numeric_column(kAssociatedFieldCode, &associated_field_label(), field, false,
                                                         walk.subsets, walk.reader, walk.cells);
        if (!associated) return std::move(associated).error();
        append_column(walk, *associated, ValueKind::AssociatedField);
    }
    if (step.read == ElementRead::NotFound) return BufrError::element_not_found(code);
    if (Status room = check_room(walk); !room) return room;
    if (step.read == ElementRead::NewReference) return read_new_reference_column(walk, *step.element, step.width);
    if (step.read == ElementRead::UnknownLocal) return read_unknown_local_element(walk, code, step);
    const NumericField field = element_field(*step.element, walk.state.operators);
    auto column = read_compressed_element_column(walk, *step.element, field, missing_when_all_ones(code, walk.options));
    if (!column) return std::move(column).error();
    // The first subset decides the entry; a missing one gives 0.
    end_element(walk.state, *step.element, field, [&]() -> std::optional<std::uint8_t> {
        const std::optional<double> first = first_value(walk, *column);
        return first ? bitmap_entry(*first) : 0;
    });
    append_column(walk, *column, ValueKind::Element);
    return {};
}

Status read_character_data(Walk& walk, std::uint32_t code) {
    if (Status room = check_room(walk); !room) return room;
    Column column;
    column.code = code;
    column.name = &character_data_label();
    if (Status read = read_compressed_text_column(walk, column, static_cast<std::uint16_t>(descriptor_y(code) * 8));
        !read) {
        return read;
    }
    append_column(walk, column, ValueKind::CharacterData);
    return {};
}

Status read_bitmap_driven(Walk& walk, const ElementDefinition& element, const NumericField& field) {
    if (Status room = check_room(walk); !room) return room;
    auto column = read_compressed_element_column(walk, element, field, missing_when_all_ones(element.code, walk.options));
    if (!column) return std::move(column).error();
    append_column(walk, *column, ValueKind::BitmapAttached);
    return {};
}

Status append_marker(Walk& walk, std::uint32_t code) {
    if (Status room = check_room(walk); !room) return room;
    Column marker;
    marker.code = code;
    marker.name = &operator_label();
    append_column(walk, marker, ValueKind::Marker);
    if (descriptor_x(code) == 3) walk.defining_references = opens_new_references(code);
    return {};
}

// The factor's column decides how often a compressed delayed replication repeats.
Result<std::uint64_t> read_replication_factor(Walk& walk, const ElementDefinition& factor) {
    if (Status room = check_room(walk); !room) return std::move(room).error();
    const NumericField field = element_field(factor, walk.state.operators);
    auto column = read_compressed_element_column(walk, factor, field, !is_class31(factor.code));
    if (!column) return std::move(column).error();
    auto count = compressed_replication_count(walk, *column);
    if (!count) return std::move(count).error();
    append_column(walk, *column, ValueKind::ReplicationFactor);
    end_replication_factor(walk.state, factor, field);
    return count;
}

Status decode_compressed_descriptors_inner(Walk& walk, std::span<const std::uint32_t> descriptors, unsigned depth) {
    return walk_descriptors(walk, descriptors, depth, "compressed descriptor decode exceeded recursion depth");
}

// Writes one value of a column in place.
void write_value(CompressedColumns& walk, const Column& column, std::uint64_t s, DecodedValue& value) {
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
            if (column.numbered) {
                value.set_raw_value(static_cast<double>((column.first_position + s) * 1000 + column.width_bytes));
            }
            if (const auto& text = walk.texts[at]) value.set_raw_text(*text);
            break;
        case ColumnKind::Marker:
            value.set_raw_value(0.0);
            value.set_raw(0);
            break;
        case ColumnKind::NewReference:
            value.set_raw(walk.cells[at].raw);
            value.set_raw_value(static_cast<double>(column.reference));
            break;
    }
}

}  // namespace

Result<CompressedColumns> read_compressed_columns(const BufrMessage& message, const TableSet& tables,
                                                  BitReader& reader, DecodeOptions options) {
    Walk walk{{tables, options, reader}, ValueCodingState{}, message.number_of_subsets, {}, {}, {}, {}};
    if (Status walked = decode_compressed_descriptors_inner(walk, message.unexpanded_descriptors, 0); !walked) {
        return std::move(walked).error();
    }
    return CompressedColumns{std::move(walk.columns), std::move(walk.cells), std::move(walk.texts),
                             std::move(walk.arena), walk.subsets};
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

Result<DecodedValues> decode_compressed_values(const BufrMessage& message, const TableSet& tables,
                                               BitReader& reader, DecodeOptions options) {
    auto columns = read_compressed_columns(message, tables, reader, options);
    if (!columns) return std::move(columns).error();
    return regroup(*columns);
}

}  // namespace corvane::detail
