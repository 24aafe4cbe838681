// Private to the walk (walk.hpp includes it): the subset-by-subset walk of an uncompressed
// message.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "walk/coding_state.hpp"
#include "walk/descriptor_walk.hpp"
#include "walk/element_reading.hpp"
#include "walk/element_rules.hpp"
#include "walk/operators.hpp"
#include "walk/walk_types.hpp"

namespace corvane::detail {

// One walk call: shared by every subset and every nesting level.
template <class Sink, class Reader = BitReader>
struct SubsetWalk : SectionWalk<Reader> {
    static constexpr const char* kDepthError = "descriptor decode exceeded recursion depth";
    Sink& sink;
    ValueCodingState state{};
    // Values so far, markers included, for the bound.
    std::size_t values = 0;
};

template <class Sink, class Reader>
Status count_value(SubsetWalk<Sink, Reader>& walk) {
    if (walk.values >= kMaxDecodedValues) return too_many_values();
    ++walk.values;
    return {};
}

// Plain bits: associated fields and unknown local elements; all ones is missing with `check_missing`.
template <class Sink, class Reader>
Status read_plain_bits(SubsetWalk<Sink, Reader>& walk, const WalkValue& value, bool check_missing) {
    const auto width = static_cast<std::uint16_t>(value.field->width);
    std::uint64_t bits;
    if (!read_value_bits(walk.reader, value, width, bits)) return walk.reader.read_error(width);
    if (Status counted = count_value(walk); !counted) return counted;
    std::optional<double> number;
    if (!is_missing(bits, width, check_missing)) number = static_cast<double>(bits);
    walk.sink.number(value, bits, number);
    return {};
}

// The element's scaled value for the walk in `number` (nothing when missing or text), read
// as `value` says. Not a Result: one would pass every value through memory. Inlined where it
// is called, so that `value` need not be built in memory for the sink either.
template <class Sink, class Reader>
[[gnu::always_inline]] inline Status read_element(SubsetWalk<Sink, Reader>& walk, const WalkValue& value,
                                                  bool check_missing, std::optional<double>& number) {
    const NumericField& field = *value.field;
    if (value.element->is_text()) {
        const auto width = static_cast<std::uint16_t>(field.width);
        if (Status read = read_text_bits(walk.reader, value, width, walk.field.data()); !read) return read;
        if (Status counted = count_value(walk); !counted) return counted;
        const std::uint64_t position = ++walk.state.numbering.text_counter;
        walk.sink.text(value, decode_ia5_text(walk.field, (width + 7u) / 8, walk.options), position);
        return {};
    }
    if (field.width > 64) return width_error(field.width);
    const auto width = static_cast<std::uint16_t>(field.width);
    std::uint64_t raw;
    if (!read_value_bits(walk.reader, value, width, raw)) return walk.reader.read_error(width);
    if (Status counted = count_value(walk); !counted) return counted;
    if (!is_missing(raw, width, check_missing)) number = scaled_value(raw, field.reference, field.divisor);
    walk.sink.number(value, raw, number);
    return {};
}

template <class Sink, class Reader>
Status decode_element(SubsetWalk<Sink, Reader>& walk, std::uint32_t code) {
    const ElementStep step = begin_element(walk.state.operators, walk.sink.element(code), code, walk.options);
    if (step.associated_width != 0) {
        NumericField bits;
        bits.width = step.associated_width;
        const WalkValue associated = walk.value(ValueKind::AssociatedField, kAssociatedFieldCode, nullptr, &bits);
        if (Status read = read_plain_bits(walk, associated, false); !read) return read;
    }
    if (step.read == ElementRead::NotFound) return BufrError::element_not_found(code);
    if (step.read == ElementRead::NewReference) {
        NumericField field;
        field.width = step.width;
        const WalkValue value = walk.value(ValueKind::ReferenceDefinition, step.element->code, step.element, &field);
        std::uint64_t bits;
        if (!read_value_bits(walk.reader, value, step.width, bits)) return walk.reader.read_error(step.width);
        const std::int64_t reference = end_new_reference(walk.state.operators, step.element->code, bits, step.width);
        if (Status counted = count_value(walk); !counted) return counted;
        walk.sink.number(value, bits, static_cast<double>(reference));
        return {};
    }
    if (step.read == ElementRead::UnknownLocal) {
        NumericField bits;
        bits.width = step.width;
        const WalkValue unknown = walk.value(ValueKind::UnknownLocalElement, code, nullptr, &bits);
        if (Status read = read_plain_bits(walk, unknown, step.check_missing); !read) return read;
        end_unknown_local_element(walk.state);
        return {};
    }
    const NumericField field = element_field(*step.element, walk.state.operators);
    std::optional<double> number;
    WalkValue value = walk.value(ValueKind::Element, step.element->code, step.element, &field);
    value.history_index = walk.state.bitmaps.descriptor_history.size();
    BitmapReference qualified;
    if (quality_reference(walk.state, step.element->code, qualified)) value.attached = &qualified;
    if (Status read = read_element(walk, value, missing_when_all_ones(code, walk.options), number); !read) return read;
    // A missing 031031 adds no entry.
    end_element(walk.state, *step.element, field, [&]() -> std::optional<std::uint8_t> {
        if (!number) return std::nullopt;
        return bitmap_entry(*number);
    });
    return {};
}

template <class Sink, class Reader>
Status read_character_data(SubsetWalk<Sink, Reader>& walk, std::uint32_t code) {
    const auto width = static_cast<std::uint16_t>(descriptor_y(code) * 8);
    const WalkValue value = walk.value(ValueKind::CharacterData, code);
    if (Status read = read_text_bits(walk.reader, value, width, walk.field.data()); !read) return read;
    if (Status counted = count_value(walk); !counted) return counted;
    walk.sink.text(value, decode_ia5_text(walk.field, width / 8u, walk.options), 0);
    return {};
}

template <class Sink, class Reader>
Status read_bitmap_driven(SubsetWalk<Sink, Reader>& walk, const BitmapReference& reference, const NumericField& field) {
    const ElementDefinition& element = *reference.element;
    WalkValue value = walk.value(ValueKind::BitmapAttached, element.code, &element, &field);
    value.attached = &reference;
    std::optional<double> number;
    return read_element(walk, value, missing_when_all_ones(element.code, walk.options), number);
}

template <class Sink, class Reader>
Status append_marker(SubsetWalk<Sink, Reader>& walk, std::uint32_t code) {
    if (Status counted = count_value(walk); !counted) return counted;
    if (descriptor_x(code) == 3) walk.defining = opens_new_references(code);
    walk.sink.marker(code);
    return {};
}

// The factor is read like an element, but always joins the history and keeps a pending 206YYY.
template <class Sink, class Reader>
Result<std::uint64_t> read_replication_factor(SubsetWalk<Sink, Reader>& walk, const ElementDefinition& factor) {
    const NumericField field = element_field(factor, walk.state.operators);
    std::optional<double> number;
    WalkValue value = walk.value(ValueKind::ReplicationFactor, factor.code, &factor, &field);
    value.history_index = walk.state.bitmaps.descriptor_history.size();
    if (Status read = read_element(walk, value, !is_class31(factor.code), number); !read) {
        return std::move(read).error();
    }
    end_replication_factor(walk.state, factor, field);
    return replication_count(number);
}

// Subsets of one message are alike, so the first tells how many of them the bits left can
// hold: a message that declares more subsets than it carries gets no room for the others. A
// first subset that read no bits repeats exactly.
template <class Reader>
std::uint64_t subsets_held(std::uint64_t subsets, const Reader& reader) {
    const std::uint64_t first_bits = reader.position();
    if (first_bits == 0) return subsets;
    return 1 + std::min(subsets - 1, (reader.total_bits() - first_bits) / first_bits);
}

}  // namespace corvane::detail

namespace corvane {

template <class Sink, class Reader>
Status walk_subsets(const BufrMessage& message, const TableSet& tables, Reader& reader, DecodeOptions options,
                    Sink& sink) {
    detail::SubsetWalk<Sink, Reader> walk{{tables, options, reader}, sink};
    for (std::uint32_t subset = 0; subset < message.number_of_subsets; ++subset) {
        if (subset != 0) walk.state.reset_for_next_subset();
        sink.begin_subset(subset);
        if (Status walked = detail::walk_descriptors(walk, message.unexpanded_descriptors, 0); !walked) return walked;
        sink.end_subset(subset);
        if (subset == 0) sink.expect_subsets(detail::subsets_held(message.number_of_subsets, reader));
    }
    return {};
}

}  // namespace corvane
