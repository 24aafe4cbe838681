#include "data/coding_state.hpp"

namespace corvane {

void ValueCodingState::reset_for_next_subset() {
    bitmap.clear();
    descriptor_history.clear();
    reference_multiplier = 1;
    bitmap_cursor = 0;
    bitmap_anchor = 0;
    text_column_counter = 0;
    local_width_pending = false;
    local_width = 0;
    text_width_set = false;
    text_width_bits = 0;
    width_delta = 0;
    scale_delta = 0;
    defining_bitmap = false;
    associated_field_width = 0;
    new_reference_width = 0;
    new_references.clear();
}

Result<const ElementDefinition*> ValueCodingState::next_bitmap_element() {
    const std::uint64_t length = bitmap.size();
    while (bitmap_cursor < length && bitmap[bitmap_cursor] == 1) ++bitmap_cursor;
    if (bitmap_cursor >= length) return static_cast<const ElementDefinition*>(nullptr);
    const std::uint64_t position = bitmap_cursor++;
    // Entry k names the k-th of the last `length` elements read before the definition began.
    const std::uint64_t start = bitmap_anchor >= length ? bitmap_anchor - length : 0;
    const std::uint64_t index = start + position;
    if (index >= descriptor_history.size()) return BufrError::parse("bitmap reference is outside descriptor history");
    return descriptor_history[index];
}

}  // namespace corvane
