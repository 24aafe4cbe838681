// What operators, bitmaps and text numbering have put in force during one decoding pass.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "error/error.hpp"
#include "tables/table_set.hpp"

namespace corvane {

// One per subset (uncompressed) or per message (compressed). History entries point into
// the table set, which must outlive the state.
struct ValueCodingState {
    // 1 = not present; any other entry = present.
    std::vector<std::uint8_t> bitmap;
    std::vector<const ElementDefinition*> descriptor_history;
    std::int64_t reference_multiplier = 1;
    std::uint64_t bitmap_cursor = 0;
    std::uint64_t bitmap_anchor = 0;
    std::uint64_t text_counter = 0;
    std::uint64_t text_column_counter = 0;
    bool local_width_pending = false;
    std::uint16_t local_width = 0;
    bool text_width_set = false;
    std::uint16_t text_width_bits = 0;
    std::int32_t width_delta = 0;
    std::int32_t scale_delta = 0;
    bool defining_bitmap = false;
    std::uint8_t associated_field_width = 0;
    // 203YYY: bits of each new reference while a definition is open (0 = none open), and
    // the references redefined so far, by element code.
    std::uint8_t new_reference_width = 0;
    std::unordered_map<std::uint32_t, std::int64_t> new_references;

    // Back to the initial values, keeping the text numbering and the allocations.
    void reset_for_next_subset();

    // The history entry that the next present bitmap entry refers to; null when none is left.
    Result<const ElementDefinition*> next_bitmap_element();
};

}  // namespace corvane
