// Private to the walk (walk.hpp includes it): the column-by-column walk of a compressed message.
// Each value is a column for all subsets: R0, NBINC, then one increment per subset.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "walk/coding_state.hpp"
#include "walk/descriptor_walk.hpp"
#include "walk/element_reading.hpp"
#include "walk/element_rules.hpp"
#include "walk/operators.hpp"
#include "walk/walk_types.hpp"

namespace corvane::detail {

// `Reader` is a BitReader, or an encoder's source that writes each column as the walk asks for
// its R0 and hands the walk a BitReader over the increments it wrote (column_increments).
template <class Sink, class Reader = BitReader>
struct ColumnWalk : SectionWalk<Reader> {
    static constexpr const char* kDepthError = "compressed descriptor decode exceeded recursion depth";
    Sink& sink;
    std::uint64_t subsets = 0;
    ValueCodingState state{};
    // Columns so far, markers included, for the bound.
    std::size_t columns = 0;
};

// Counts the values a column will add before any is produced.
template <class Sink, class Reader>
Status check_room(const ColumnWalk<Sink, Reader>& walk) {
    if (walk.subsets != 0 && (walk.columns + 1) * walk.subsets > kMaxDecodedValues) return too_many_values();
    return {};
}

template <class Sink, class Reader>
void count_column(ColumnWalk<Sink, Reader>& walk) {
    if (walk.subsets != 0) ++walk.columns;
}

// Passes over `count` fields of `width` bits, failing where reading them one by one would.
inline Status skip_fields(BitReader& reader, std::uint64_t count, std::uint16_t width) {
    if (width == 0) return {};
    const std::uint64_t fitting = (reader.total_bits() - reader.position()) / width;
    if (fitting >= count) {
        (void)reader.try_skip(count * width);
        return {};
    }
    (void)reader.try_skip(fitting * width);
    return reader.read_error(width);
}

// What the walk itself needs of a numeric column: the first subset's raw bits and value, and
// for replication factors whether every subset has that value.
struct FirstValue {
    std::uint64_t raw = 0;
    std::optional<double> value;
    bool varies = false;
};

// The increments of subsets 1 on, into `cells` (a copy, which no store can change);
// `kCheck` compares each value with the first.
template <bool kCheck, class Cells>
void read_later_increments(BitReader& reader, std::uint64_t subsets, std::uint64_t r0, std::uint16_t width,
                           std::uint64_t missing_increment, bool all_missing, const NumericField& field,
                           FirstValue& first, Cells cells) {
    // A local reader, which no store through the cells can change.
    BitReader bits = reader;
    for (std::uint64_t s = 1; s < subsets; ++s) {
        std::uint64_t increment = 0;
        (void)bits.try_read_u64(width, increment);  // the bits were seen to be there
        const bool missing = all_missing || increment == missing_increment;
        cells.cell(s, missing ? r0 : r0 + increment, missing);
        if constexpr (kCheck) {
            if (first.value && (missing || !(std::fabs(scaled_value(r0 + increment, field.reference, field.divisor) -
                                                       *first.value) <= 0x1p-52))) {
                first.varies = true;
            }
        }
    }
    reader = bits;
}

// R0, NBINC and one increment per subset (none when NBINC is 0), each cell to the sink unless
// `quiet`; `check` asks whether every subset has the first one's value.
template <class Sink, class Reader>
Result<FirstValue> read_number_column(ColumnWalk<Sink, Reader>& walk, const WalkValue& value, bool check_missing,
                                      bool check, bool quiet = false) {
    const NumericField& field = *value.field;
    if (field.width > 64) return width_error(field.width);
    const auto width = static_cast<std::uint16_t>(field.width);
    std::uint64_t r0;
    std::uint64_t nbinc;
    if (!read_value_bits(walk.reader, value, width, r0)) return walk.reader.read_error(width);
    if (!read_increment_width(walk.reader, value, nbinc)) return walk.reader.read_error(6);
    BitReader& reader = column_increments(walk.reader);
    const bool all_missing = is_missing(r0, width, check_missing);
    const std::uint64_t subsets = walk.subsets;
    FirstValue first;
    if (nbinc == 0) {
        first.raw = r0;
        if (subsets == 0) return first;
        if (!all_missing) first.value = scaled_value(r0, field.reference, field.divisor);
        if (quiet) return first;
        Status sent = walk.sink.numbers(value, true, [&](auto cells) -> Status {
            cells.all(r0, all_missing);
            return {};
        });
        if (!sent) return std::move(sent).error();
        return first;
    }
    const auto increment_width = static_cast<std::uint16_t>(nbinc);
    // Cells are taken only once the bits left are seen to hold an increment for every subset.
    if ((reader.total_bits() - reader.position()) / nbinc < subsets) {
        return skip_fields(reader, subsets, increment_width).error();
    }
    if (subsets == 0) return first;
    const std::uint64_t missing_increment = check_missing ? all_ones(increment_width) : ~std::uint64_t{0};
    // The first subset's value, which the walk may need whatever the sink keeps.
    std::uint64_t increment = 0;
    (void)reader.try_read_u64(increment_width, increment);
    const bool first_missing = all_missing || increment == missing_increment;
    first.raw = r0 + increment;
    if (!first_missing) first.value = scaled_value(first.raw, field.reference, field.divisor);
    const auto read = [&](auto cells) -> Status {
        cells.cell(0, first_missing ? r0 : first.raw, first_missing);
        if constexpr (std::is_same_v<decltype(cells), SkipCells>) {
            if (!check) return skip_fields(reader, subsets - 1, increment_width);
        }
        if (check) {
            read_later_increments<true>(reader, subsets, r0, increment_width, missing_increment, all_missing, field,
                                        first, cells);
        } else {
            read_later_increments<false>(reader, subsets, r0, increment_width, missing_increment, all_missing, field,
                                         first, cells);
        }
        return {};
    };
    Status sent = quiet ? read(SkipCells{}) : walk.sink.numbers(value, false, read);
    if (!sent) return std::move(sent).error();
    return first;
}

// A text column: R0 of `width` bits, NBINC, then NBINC bytes per subset.
template <class Sink, class Reader>
Status read_text_column(ColumnWalk<Sink, Reader>& walk, const WalkValue& value, std::uint16_t width,
                        std::uint64_t first_position) {
    if (Status read = read_text_bits(walk.reader, value, width, walk.field.data()); !read) return read;
    std::uint64_t nbinc;
    if (!read_increment_width(walk.reader, value, nbinc)) return walk.reader.read_error(6);
    BitReader& reader = column_increments(walk.reader);
    const std::uint64_t subsets = walk.subsets;
    if (nbinc == 0) {
        if (subsets == 0) return {};
        return walk.sink.texts(value, first_position, [&](auto texts) -> Status {
            if constexpr (!std::is_same_v<decltype(texts), SkipTexts>) {
                texts.all(decode_ia5_text(walk.field, (width + 7u) / 8, walk.options));
            }
            return {};
        });
    }
    const auto bytes = static_cast<std::uint16_t>(nbinc);
    // Texts are taken only once the bits left are seen to hold every subset's.
    if (subsets == 0 || (reader.total_bits() - reader.position()) / 8 < subsets * bytes) {
        return skip_fields(reader, subsets * bytes, 8);
    }
    return walk.sink.texts(value, first_position, [&](auto texts) -> Status {
        if constexpr (std::is_same_v<decltype(texts), SkipTexts>) {
            return skip_fields(reader, subsets * bytes, 8);
        } else {
            for (std::uint64_t s = 0; s < subsets; ++s) {
                (void)read_field_bytes(reader, static_cast<std::uint16_t>(bytes * 8), walk.field.data());
                texts.text(s, decode_ia5_text(walk.field, bytes, walk.options));
            }
            return {};
        }
    });
}

// One column of an element read as `value` says.
template <class Sink, class Reader>
Result<FirstValue> read_element_column(ColumnWalk<Sink, Reader>& walk, const WalkValue& value, bool check_missing,
                                       bool check) {
    if (value.element->is_text()) {
        const std::uint64_t position = walk.subsets * walk.state.numbering.text_column_counter++ + 1;
        if (Status read = read_text_column(walk, value, static_cast<std::uint16_t>(value.field->width), position);
            !read) {
            return std::move(read).error();
        }
        return FirstValue{};
    }
    return read_number_column(walk, value, check_missing, check);
}

template <class Sink, class Reader>
Status decode_element(ColumnWalk<Sink, Reader>& walk, std::uint32_t code) {
    const ElementStep step = begin_element(walk.state.operators, walk.sink.element(code), code, walk.options);
    if (step.associated_width != 0) {
        if (Status room = check_room(walk); !room) return room;
        NumericField bits;
        bits.width = step.associated_width;
        const WalkValue associated = walk.value(ValueKind::AssociatedField, kAssociatedFieldCode, nullptr, &bits);
        if (auto read = read_number_column(walk, associated, false, false); !read) return std::move(read).error();
        count_column(walk);
    }
    if (step.read == ElementRead::NotFound) return BufrError::element_not_found(code);
    if (Status room = check_room(walk); !room) return room;
    if (step.read == ElementRead::NewReference) {
        NumericField bits;
        bits.width = step.width;
        const WalkValue value = walk.value(ValueKind::ReferenceDefinition, step.element->code, step.element, &bits);
        // Every subset shares the first subset's reference: the sink gets it once.
        auto read = read_number_column(walk, value, false, false, true);
        if (!read) return std::move(read).error();
        const std::uint64_t first = walk.subsets == 0 ? 0 : read->raw;
        const std::int64_t reference = end_new_reference(walk.state.operators, step.element->code, first, step.width);
        if (walk.subsets != 0) walk.sink.same_number(value, first, static_cast<double>(reference));
        count_column(walk);
        return {};
    }
    if (step.read == ElementRead::UnknownLocal) {
        NumericField bits;
        bits.width = step.width;
        const WalkValue unknown = walk.value(ValueKind::UnknownLocalElement, code, nullptr, &bits);
        if (auto read = read_number_column(walk, unknown, step.check_missing, false); !read) {
            return std::move(read).error();
        }
        count_column(walk);
        end_unknown_local_element(walk.state);
        return {};
    }
    const NumericField field = element_field(*step.element, walk.state.operators);
    WalkValue value = walk.value(ValueKind::Element, step.element->code, step.element, &field);
    value.history_index = walk.state.bitmaps.descriptor_history.size();
    BitmapReference qualified;
    if (quality_reference(walk.state, step.element->code, qualified)) value.attached = &qualified;
    auto first = read_element_column(walk, value, missing_when_all_ones(code, walk.options), false);
    if (!first) return std::move(first).error();
    // The first subset decides the entry; a missing one gives 0.
    end_element(walk.state, *step.element, field,
                [&]() -> std::optional<std::uint8_t> { return first->value ? bitmap_entry(*first->value) : 0; });
    count_column(walk);
    return {};
}

template <class Sink, class Reader>
Status read_character_data(ColumnWalk<Sink, Reader>& walk, std::uint32_t code) {
    if (Status room = check_room(walk); !room) return room;
    const auto width = static_cast<std::uint16_t>(descriptor_y(code) * 8);
    if (Status read = read_text_column(walk, walk.value(ValueKind::CharacterData, code), width, 0); !read) return read;
    count_column(walk);
    return {};
}

template <class Sink, class Reader>
Status read_bitmap_driven(ColumnWalk<Sink, Reader>& walk, const BitmapReference& reference, const NumericField& field) {
    if (Status room = check_room(walk); !room) return room;
    const ElementDefinition& element = *reference.element;
    WalkValue value = walk.value(ValueKind::BitmapAttached, element.code, &element, &field);
    value.attached = &reference;
    if (auto read = read_element_column(walk, value, missing_when_all_ones(element.code, walk.options), false); !read) {
        return std::move(read).error();
    }
    count_column(walk);
    return {};
}

template <class Sink, class Reader>
Status append_marker(ColumnWalk<Sink, Reader>& walk, std::uint32_t code) {
    if (Status room = check_room(walk); !room) return room;
    count_column(walk);
    if (descriptor_x(code) == 3) walk.defining = opens_new_references(code);
    if (walk.subsets != 0) walk.sink.marker(code);
    return {};
}

// The factor's column decides how often a compressed delayed replication repeats.
template <class Sink, class Reader>
Result<std::uint64_t> read_replication_factor(ColumnWalk<Sink, Reader>& walk, const ElementDefinition& factor) {
    if (Status room = check_room(walk); !room) return std::move(room).error();
    const NumericField field = element_field(factor, walk.state.operators);
    WalkValue value = walk.value(ValueKind::ReplicationFactor, factor.code, &factor, &field);
    value.history_index = walk.state.bitmaps.descriptor_history.size();
    auto first = read_element_column(walk, value, !is_class31(factor.code), true);
    if (!first) return std::move(first).error();
    if (first->value && first->varies) {
        return BufrError::unsupported("compressed delayed replication with varying factors is not implemented");
    }
    count_column(walk);
    end_replication_factor(walk.state, factor, field);
    return replication_count(first->value);
}

}  // namespace corvane::detail

namespace corvane {

template <class Sink, class Reader>
Status walk_columns(const BufrMessage& message, const TableSet& tables, Reader& reader, DecodeOptions options,
                    Sink& sink) {
    detail::ColumnWalk<Sink, Reader> walk{{tables, options, reader}, sink, message.number_of_subsets};
    return detail::walk_descriptors(walk, message.unexpanded_descriptors, 0);
}

}  // namespace corvane
