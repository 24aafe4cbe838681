#include "data/uncompressed_walk.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <span>

#include "data/coding_state.hpp"
#include "data/decoder.hpp"
#include "data/descriptor_walk.hpp"
#include "data/element_reading.hpp"
#include "data/element_rules.hpp"
#include "data/operators.hpp"
#include "descriptor/descriptor.hpp"

namespace corvane::detail {

namespace {

// One decode call: shared by every subset and every nesting level.
struct Walk : SectionWalk {
    ValueCodingState& state;
    DecodedValues& out;
    bool defining_references = false;
};

DecodedValue* append(Walk& walk, ValueKind kind) {
    DecodedValues& out = walk.out;
    if (out.values.size() >= kMaxDecodedValues) return nullptr;
    DecodedValue& value = out.values.append();
    value.set_kind(walk.defining_references && kind != ValueKind::Marker ? ValueKind::ReferenceDefinition : kind);
    return &value;
}

// Stores a decoded text with the values; a missing text stays absent.
void set_text(DecodedValues& out, DecodedValue& value, std::optional<std::string_view> text) {
    if (text) value.set_raw_text(out.texts.store(*text));
}

Status read_associated_field(Walk& walk, std::uint8_t width) {
    BitReader& reader = walk.reader;
    std::uint64_t bits;
    if (!reader.try_read_u64(width, bits)) return reader.read_error(width);
    DecodedValue* value = append(walk, ValueKind::AssociatedField);
    if (value == nullptr) return too_many_values();
    value->descriptor = kAssociatedFieldCode;
    value->name = &associated_field_label();
    value->set_raw_value(static_cast<double>(bits));
    value->set_raw(bits);
    return {};
}

// The element's scaled value for the caller (nothing when missing or text), read with `field`.
Result<std::optional<double>> read_element(Walk& walk, ValueKind kind, const ElementDefinition& element,
                                           const NumericField& field, bool check_missing) {
    ValueCodingState& state = walk.state;
    if (element.is_text()) {
        const auto width = static_cast<std::uint16_t>(field.width);
        if (Status read = read_field_bytes(walk.reader, width, walk.field.data()); !read) return std::move(read).error();
        DecodedValue* value = append(walk, kind);
        if (value == nullptr) return too_many_values();
        ++state.numbering.text_counter;
        value->descriptor = element.code;
        value->name = &element.name;
        value->set_raw_value(static_cast<double>(state.numbering.text_counter * 1000 + width / 8));
        set_text(walk.out, *value, decode_ia5_text(walk.field, (width + 7u) / 8, walk.options));
        return std::optional<double>{};
    }
    if (field.width > 64) return width_error(field.width);
    const auto width = static_cast<std::uint16_t>(field.width);
    std::uint64_t raw;
    if (!walk.reader.try_read_u64(width, raw)) return walk.reader.read_error(width);
    DecodedValue* value = append(walk, kind);
    if (value == nullptr) return too_many_values();
    value->descriptor = element.code;
    value->name = &element.name;
    value->set_raw(raw);
    value->raw_meaning = walk.tables.code_meaning(element.code, raw);
    if (is_missing(raw, width, check_missing)) return std::optional<double>{};
    const double scaled = scaled_value(raw, field.reference, field.divisor);
    value->set_raw_value(scaled);
    return std::optional<double>(scaled);
}

Status read_new_reference(Walk& walk, const ElementDefinition& element, std::uint16_t width) {
    std::uint64_t bits;
    if (!walk.reader.try_read_u64(width, bits)) return walk.reader.read_error(width);
    const std::int64_t reference = end_new_reference(walk.state.operators, element.code, bits, width);
    DecodedValue* value = append(walk, ValueKind::ReferenceDefinition);
    if (value == nullptr) return too_many_values();
    value->descriptor = element.code;
    value->name = &element.name;
    value->set_raw(bits);
    value->set_raw_value(static_cast<double>(reference));
    return {};
}

Status read_unknown_local_element(Walk& walk, std::uint32_t code, const ElementStep& step) {
    std::uint64_t bits;
    if (!walk.reader.try_read_u64(step.width, bits)) return walk.reader.read_error(step.width);
    DecodedValue* value = append(walk, ValueKind::UnknownLocalElement);
    if (value == nullptr) return too_many_values();
    value->descriptor = code;
    value->name = &unknown_local_element_label();
    if (!is_missing(bits, step.width, step.check_missing)) value->set_raw_value(static_cast<double>(bits));
    value->set_raw(bits);
    end_unknown_local_element(walk.state);
    return {};
}

Status read_character_data(Walk& walk, std::uint32_t code) {
    const auto width = static_cast<std::uint16_t>(descriptor_y(code) * 8);
    if (Status read = read_field_bytes(walk.reader, width, walk.field.data()); !read) return read;
    DecodedValue* value = append(walk, ValueKind::CharacterData);
    if (value == nullptr) return too_many_values();
    value->descriptor = code;
    value->name = &character_data_label();
    set_text(walk.out, *value, decode_ia5_text(walk.field, width / 8u, walk.options));
    return {};
}

Status decode_element(Walk& walk, std::uint32_t code) {
    const ElementStep step = begin_element(walk.state.operators, walk.tables, code, walk.options);
    if (step.associated_width != 0) {
        if (Status read = read_associated_field(walk, step.associated_width); !read) return read;
    }
    if (step.read == ElementRead::NotFound) return BufrError::element_not_found(code);
    if (step.read == ElementRead::NewReference) return read_new_reference(walk, *step.element, step.width);
    if (step.read == ElementRead::UnknownLocal) return read_unknown_local_element(walk, code, step);
    const NumericField field = element_field(*step.element, walk.state.operators);
    auto value = read_element(walk, ValueKind::Element, *step.element, field, missing_when_all_ones(code, walk.options));
    if (!value) return std::move(value).error();
    // A missing 031031 adds no entry.
    end_element(walk.state, *step.element, field, [&]() -> std::optional<std::uint8_t> {
        if (!value->has_value()) return std::nullopt;
        return bitmap_entry(**value);
    });
    return {};
}

Status read_bitmap_driven(Walk& walk, const ElementDefinition& element, const NumericField& field) {
    auto value =
        read_element(walk, ValueKind::BitmapAttached, element, field, missing_when_all_ones(element.code, walk.options));
    if (!value) return std::move(value).error();
    return {};
}

Status append_marker(Walk& walk, std::uint32_t code) {
    DecodedValue* marker = append(walk, ValueKind::Marker);
    if (marker == nullptr) return too_many_values();
    if (descriptor_x(code) == 3) walk.defining_references = opens_new_references(code);
    marker->descriptor = code;
    marker->name = &operator_label();
    marker->set_raw_value(0.0);
    marker->set_raw(0);
    return {};
}

// The factor is read like an element, but always joins the history and keeps a pending 206YYY.
Result<std::uint64_t> read_replication_factor(Walk& walk, const ElementDefinition& factor) {
    const NumericField field = element_field(factor, walk.state.operators);
    auto value = read_element(walk, ValueKind::ReplicationFactor, factor, field, !is_class31(factor.code));
    if (!value) return std::move(value).error();
    end_replication_factor(walk.state, factor, field);
    return replication_count(*value);
}

Status decode_descriptor_values_inner(Walk& walk, std::span<const std::uint32_t> descriptors, unsigned depth) {
    return walk_descriptors(walk, descriptors, depth, "descriptor decode exceeded recursion depth");
}

// Subsets of one message are alike, so the first tells how many values the others hold, as
// far as the bits left can hold that many subsets: a message that declares more subsets than
// it carries must not get room for them. A first subset that read no bits repeats exactly.
std::size_t later_values(std::uint64_t subsets, std::size_t first_values, const BitReader& reader) {
    const std::uint64_t first_bits = reader.position();
    std::uint64_t later = subsets - 1;
    if (first_bits != 0) later = std::min(later, (reader.total_bits() - first_bits) / first_bits);
    return static_cast<std::size_t>(std::min<std::uint64_t>(later * first_values, kMaxDecodedValues));
}

}  // namespace

Result<DecodedValues> decode_uncompressed_subsets(const BufrMessage& message, const TableSet& tables,
                                                  BitReader& reader, DecodeOptions options) {
    DecodedValues out;
    ValueCodingState state;
    Walk walk{{tables, options, reader}, state, out};
    out.subset_ends.reserve(message.number_of_subsets);
    for (std::uint32_t subset = 0; subset < message.number_of_subsets; ++subset) {
        if (subset != 0) state.reset_for_next_subset();
        if (Status walked = decode_descriptor_values_inner(walk, message.unexpanded_descriptors, 0); !walked) {
            return std::move(walked).error();
        }
        out.subset_ends.push_back(out.size());
        if (subset == 0) out.values.plan(later_values(message.number_of_subsets, out.size(), reader));
    }
    return out;
}

}  // namespace corvane::detail
