// The subset-by-subset walk of an uncompressed message into columns.
#include <algorithm>
#include <optional>

#include "columns/column_walks.hpp"
#include "data/coding_state.hpp"
#include "data/decoded_value.hpp"
#include "data/decoder.hpp"
#include "data/descriptor_walk.hpp"
#include "data/element_reading.hpp"
#include "data/element_rules.hpp"
#include "data/operators.hpp"
#include "descriptor/descriptor.hpp"

namespace corvane::detail {

namespace {

struct Walk : SectionWalk {
    ValueCodingState& state;
    TableBuilder& out;
    std::size_t row = 0;
    // Values as the value list counts them, markers included, for its bound.
    std::size_t values = 0;
    // Inside a 203YYY definition, which may outlast its subset as the value list does.
    bool defining_references = false;
};

Status count_value(Walk& walk) {
    if (walk.values >= kMaxDecodedValues) return too_many_values();
    ++walk.values;
    return {};
}

// Every value takes its occurrence, missing or not.
std::int32_t column_of(Walk& walk, const std::string* name, std::uint32_t code, ValueKind kind) {
    if (walk.defining_references) return kNoColumn;
    return walk.out.value_column({name, code, kind});
}

void put_number(Walk& walk, const std::string* name, std::uint32_t code, std::optional<double> value,
                ValueKind kind = ValueKind::Element) {
    const std::int32_t column = column_of(walk, name, code, kind);
    if (column != kNoColumn && value) walk.out.put_number(column, walk.row, *value);
}

void put_text(Walk& walk, const std::string* name, std::uint32_t code, std::optional<std::string_view> decoded,
              ValueKind kind = ValueKind::Element) {
    const std::int32_t column = column_of(walk, name, code, kind);
    if (column != kNoColumn && decoded) walk.out.put_text(column, walk.row, *decoded);
}

// Plain bits: associated fields and unknown local elements; all ones is missing with `check_missing`.
Status read_bits(Walk& walk, std::uint16_t width, const std::string* name, std::uint32_t code, ValueKind kind,
                 bool check_missing = false) {
    std::uint64_t bits;
    if (!walk.reader.try_read_u64(width, bits)) return walk.reader.read_error(width);
    if (Status counted = count_value(walk); !counted) return counted;
    std::optional<double> value;
    if (!is_missing(bits, width, check_missing)) value = static_cast<double>(bits);
    put_number(walk, name, code, value, kind);
    return {};
}

// The element's scaled value for the caller in `value` (nothing when missing or text), read
// with `field`. Not a Result: one would pass every value through memory.
Status read_element(Walk& walk, const ElementDefinition& element, const NumericField& field, bool check_missing,
                    std::optional<double>& value) {
    if (element.is_text()) {
        const auto width = static_cast<std::uint16_t>(field.width);
        if (Status read = read_field_bytes(walk.reader, width, walk.field.data()); !read) return read;
        if (Status counted = count_value(walk); !counted) return counted;
        put_text(walk, &element.name, element.code, decode_ia5_text(walk.field, (width + 7u) / 8, walk.options));
        return {};
    }
    if (field.width > 64) return width_error(field.width);
    const auto width = static_cast<std::uint16_t>(field.width);
    std::uint64_t raw;
    if (!walk.reader.try_read_u64(width, raw)) return walk.reader.read_error(width);
    if (Status counted = count_value(walk); !counted) return counted;
    if (!is_missing(raw, width, check_missing)) value = scaled_value(raw, field.reference, field.divisor);
    put_number(walk, &element.name, element.code, value);
    return {};
}

Status decode_element(Walk& walk, std::uint32_t code) {
    const ElementStep step = begin_element(walk.state.operators, walk.out.element(code), code, walk.options);
    if (step.associated_width != 0) {
        if (Status read = read_bits(walk, step.associated_width, &associated_field_label(), kAssociatedFieldCode,
                                  ValueKind::AssociatedField); !read) {
            return read;
        }
    }
    if (step.read == ElementRead::NotFound) return BufrError::element_not_found(code);
    if (step.read == ElementRead::NewReference) {
        std::uint64_t bits;
        if (!walk.reader.try_read_u64(step.width, bits)) return walk.reader.read_error(step.width);
        end_new_reference(walk.state.operators, step.element->code, bits, step.width);
        return count_value(walk);
    }
    if (step.read == ElementRead::UnknownLocal) {
        if (Status read = read_bits(walk, step.width, &unknown_local_element_label(), code,
                                  ValueKind::UnknownLocalElement, step.check_missing); !read) return read;
        end_unknown_local_element(walk.state);
        return {};
    }
    const NumericField field = element_field(*step.element, walk.state.operators);
    std::optional<double> value;
    if (Status read = read_element(walk, *step.element, field, missing_when_all_ones(code, walk.options), value); !read) {
        return read;
    }
    end_element(walk.state, *step.element, field, [&]() -> std::optional<std::uint8_t> {
        if (!value) return std::nullopt;
        return bitmap_entry(*value);
    });
    return {};
}

Status read_character_data(Walk& walk, std::uint32_t code) {
    const auto width = static_cast<std::uint16_t>(descriptor_y(code) * 8);
    if (Status read = read_field_bytes(walk.reader, width, walk.field.data()); !read) return read;
    if (Status counted = count_value(walk); !counted) return counted;
    put_text(walk, &character_data_label(), code, decode_ia5_text(walk.field, width / 8u, walk.options),
             ValueKind::CharacterData);
    return {};
}

Status read_bitmap_driven(Walk& walk, const ElementDefinition& element, const NumericField& field) {
    std::optional<double> value;
    return read_element(walk, element, field, missing_when_all_ones(element.code, walk.options), value);
}

Status append_marker(Walk& walk, std::uint32_t code) {
    if (descriptor_x(code) == 3) walk.defining_references = opens_new_references(code);
    return count_value(walk);
}

Result<std::uint64_t> read_replication_factor(Walk& walk, const ElementDefinition& factor) {
    const NumericField field = element_field(factor, walk.state.operators);
    std::optional<double> value;
    if (Status read = read_element(walk, factor, field, !is_class31(factor.code), value); !read) {
        return std::move(read).error();
    }
    end_replication_factor(walk.state, factor, field);
    return replication_count(value);
}

// Subsets of one message are alike, so the first tells how many of them the bits left can
// hold: a message that declares more subsets than it carries gets no room for the others. A
// first subset that read no bits repeats exactly.
std::uint64_t subsets_held(std::uint64_t subsets, const BitReader& reader) {
    const std::uint64_t first_bits = reader.position();
    if (first_bits == 0) return subsets;
    return 1 + std::min(subsets - 1, (reader.total_bits() - first_bits) / first_bits);
}

}  // namespace

Status decode_uncompressed_columns(const BufrMessage& message, const TableSet& tables, DecodeOptions options,
                                   BitReader& reader, TableBuilder& out) {
    ValueCodingState state;
    Walk walk{{tables, options, reader}, state, out};
    for (std::uint32_t subset = 0; subset < message.number_of_subsets; ++subset) {
        if (subset != 0) state.reset_for_next_subset();
        walk.row = out.base_row() + subset;
        out.begin_subset();
        if (Status walked = walk_descriptors(walk, message.unexpanded_descriptors, 0,
                                             "descriptor decode exceeded recursion depth");
            !walked) {
            return walked;
        }
        out.end_subset();
        if (subset == 0) out.plan_rows(subsets_held(message.number_of_subsets, reader));
    }
    return {};
}

}  // namespace corvane::detail
