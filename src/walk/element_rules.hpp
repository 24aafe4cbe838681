// Private to the walk: the rules at the start and end of every element descriptor, the
// same whatever a walk stores (values, columns). A walk asks begin_element what to read,
// reads it its own way, then calls the matching end_ function.
#pragma once

#include <cstdint>
#include <optional>

#include "descriptor/descriptor.hpp"
#include "tables/table_set.hpp"
#include "walk/coding_state.hpp"
#include "walk/element_reading.hpp"
#include "walk/walk_types.hpp"

namespace corvane::detail {

enum class ElementRead : std::uint8_t {
    Value,         // the element under the operators in force
    NewReference,  // 203YYY is open: `width` bits of the element's new reference value
    UnknownLocal,  // 206YYY before an element the tables lack (or do not describe): `width` bits, unscaled
    NotFound,      // the element is not in Table B
};

// What one element descriptor reads, in order: an associated field of `associated_width` bits
// (none when 0), then what `read` says. NotFound fails only after that associated field.
struct ElementStep {
    ElementRead read = ElementRead::NotFound;
    const ElementDefinition* element = nullptr;  // null for UnknownLocal and NotFound
    std::uint8_t associated_width = 0;
    std::uint16_t width = 0;  // NewReference, UnknownLocal
    // UnknownLocal: all ones is missing, as for the element that the tables have but do not
    // describe at this width.
    bool check_missing = false;
};

// Inline: it runs once for every element a walk meets. `element` is the tables' definition
// of `code`, null when they lack it.
inline ElementStep begin_element(const OperatorState& operators, const ElementDefinition* element, std::uint32_t code,
                                 const DecodeOptions& options) {
    // Inside a 203YYY definition an element's bits are its new reference value, with no
    // associated field.
    if (operators.new_reference_width != 0) {
        if (element == nullptr) return {};
        return {ElementRead::NewReference, element, 0, operators.new_reference_width};
    }
    // Class 31 holds replication factors and bitmap bits: no associated field.
    const std::uint8_t associated = operators.associated_field_width != 0 && !is_class31(code)
                                        ? operators.associated_field_width
                                        : 0;
    const bool mismatched_width = options.plain_mismatched_local_widths && operators.local_width_pending &&
                                  element != nullptr && operators.local_width != element->width;
    if (element != nullptr && !mismatched_width) return {ElementRead::Value, element, associated, 0};
    if (operators.local_width_pending) {
        return {ElementRead::UnknownLocal, nullptr, associated, operators.local_width,
                mismatched_width && missing_when_all_ones(code, options)};
    }
    return {ElementRead::NotFound, nullptr, associated, 0};
}

inline ElementStep begin_element(const OperatorState& operators, const TableSet& tables, std::uint32_t code,
                                 const DecodeOptions& options) {
    return begin_element(operators, tables.find_element(code), code, options);
}

// After NewReference: the bits (sign and magnitude) are the element's reference from now on.
std::int64_t end_new_reference(OperatorState& operators, std::uint32_t code, std::uint64_t bits, std::uint16_t width);

// After UnknownLocal: the 206YYY width is spent, and with no definition the element cannot
// join the history.
void end_unknown_local_element(ValueCodingState& state);

// A 031031 value as a bitmap entry.
std::uint8_t bitmap_entry(double value);

// After Value, read with `field`: the 206YYY width is spent; a 031031 after a bitmap operator
// adds the entry that `entry_of()` gives (none when it gives nothing), and any other element
// joins the history. The entry is asked for only when it is needed.
template <class EntryOf>
void end_element(ValueCodingState& state, const ElementDefinition& element, const NumericField& field,
                 EntryOf&& entry_of) {
    state.operators.local_width_pending = false;
    if (state.bitmaps.takes_entry(element.code)) {
        if (const std::optional<std::uint8_t> entry = entry_of()) state.bitmaps.add_entry(*entry);
    } else {
        state.bitmaps.descriptor_history.push_back(history_entry(element, field));
    }
}

// The element that class-33 element `code`, read now, qualifies after 222000, into `out`; false
// when it qualifies none.
inline bool quality_reference(ValueCodingState& state, std::uint32_t code, BitmapReference& out) {
    if (code / 1000 != 33) return false;
    const Result<BitmapTarget> target = state.bitmaps.next_quality_element();
    if (!target || target->entry.element == nullptr) return false;
    out = {222000, target->index, target->entry.element};
    return true;
}

// After a delayed replication factor read with `field`: it always joins the history, and
// leaves a pending 206YYY width for the element it precedes.
void end_replication_factor(ValueCodingState& state, const ElementDefinition& factor, const NumericField& field);

}  // namespace corvane::detail
