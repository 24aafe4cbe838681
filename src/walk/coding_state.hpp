// Private to the walk: what operators, bitmaps and text numbering have put in force during one
// decoding pass.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "error/error.hpp"
#include "tables/table_set.hpp"

namespace corvane {

// The changes that operators 201YYY to 208YYY have put in force. Nothing cancels them at the
// end of a sequence or replication; they last until the state is reset.
struct OperatorState {
    std::int32_t width_delta = 0;             // 201YYY, 207YYY
    std::int32_t scale_delta = 0;             // 202YYY, 207YYY
    std::int64_t reference_multiplier = 1;    // 207YYY
    std::uint8_t associated_field_width = 0;  // 204YYY
    // 206YYY: the width of the next element only.
    bool local_width_pending = false;
    std::uint16_t local_width = 0;
    // 208YYY
    bool text_width_set = false;
    std::uint16_t text_width_bits = 0;
    // 203YYY: bits of each new reference while a definition is open (0 = none open), and
    // the references redefined so far, by element code.
    std::uint8_t new_reference_width = 0;
    std::unordered_map<std::uint32_t, std::int64_t> new_references;

    // Back to the initial values, keeping the allocations.
    void reset();
    bool operator==(const OperatorState&) const = default;
};

// One data-present bitmap. Only the positions of present entries are kept, so that a lookup
// never walks over absent ones: a bitmap can be reused any number of times. Positions fit in
// 32 bits because the walk's step bound keeps a bitmap far shorter.
struct Bitmap {
    std::vector<std::uint32_t> present;
    std::uint64_t length = 0;
    // Entry k refers to history entry anchor - length + k (counted from 0 when that is negative).
    std::uint64_t anchor = 0;
    bool defined = false;
};

// Where the walk stands with respect to bitmap definitions.
enum class BitmapPhase : std::uint8_t {
    Idle,
    // After 222000, 223000, 224000, 225000, 232000 or 236000: a 031031 starts a bitmap.
    Expecting,
    // Inside the run of 031031 values; anything else ends it.
    Defining,
};

// An element as the walk read it. The values that a bitmap attaches to it were written with
// the same field, whatever operators are in force where they stand.
struct HistoryEntry {
    const ElementDefinition* element = nullptr;
    std::int64_t reference = 0;  // numeric: after 203YYY and 207YYY
    std::int32_t scale = 0;      // numeric: after 202YYY and 207YYY
    std::uint16_t width = 0;     // bits, of a number or a text
};

static_assert(sizeof(HistoryEntry) <= 24, "one entry for every element a subset reads");

// What a bitmap entry refers to: an entry of the history, and its index there.
struct BitmapTarget {
    HistoryEntry entry;
    std::uint64_t index = 0;
};

// The elements read so far and the bitmaps that refer back to them. History entries point
// into the table set, which must outlive the state.
class BitmapState {
public:
    std::vector<HistoryEntry> descriptor_history;

    // Empty history, no bitmap, no backward reference; keeps the allocations.
    void reset();

    // A bitmap operator (222000, 223000, 224000, 225000, 232000; 236000 when `for_reuse`):
    // 031031 values that follow define a bitmap.
    void expect(bool for_reuse);
    // 222000: as expect(false), and the class-33 elements that follow qualify the elements of
    // the bitmap in turn (next_quality_element).
    void expect_quality();
    // 237000: the bitmap defined after 236000 again from its start; without one, the latest.
    void reuse();
    // 237YYY other than 237000: no bitmap is in use or can be reused.
    void cancel();
    // 235000: also ends the backward reference, so the next bitmap counts back from its operator.
    void cancel_backward_reference();

    // Called for every element that the walk reads (not factors): whether the element is a
    // bitmap entry, a 031031 after a bitmap operator. Any other element ends a definition.
    bool takes_entry(std::uint32_t code);
    // A 031031 value as the next entry of the bitmap being defined.
    void add_entry(std::uint8_t entry);
    // Replication factors and operators end a run of 031031 values but not the wait for one.
    void end_run();
    // Elements that are no bitmap entry end both.
    void end_definition() { phase_ = BitmapPhase::Idle; }

    // The history entry that the next present bitmap entry refers to; one without an element
    // when none is left. Costs the same whatever the bitmap holds.
    Result<BitmapTarget> next_element();
    // The same for the class-33 elements after 222000, on a cursor of their own: the values
    // that other operators attach never depend on them. One without an element outside 222000.
    Result<BitmapTarget> next_quality_element();

    BitmapPhase phase() const { return phase_; }
    const Bitmap* in_use() const { return in_use_ == kNone ? nullptr : &bitmaps_[in_use_]; }

private:
    static constexpr std::uint8_t kReusable = 0;  // defined after 236000
    static constexpr std::uint8_t kLatest = 1;    // the latest one that was not
    static constexpr std::uint8_t kNone = 2;

    std::array<Bitmap, 2> bitmaps_;
    std::uint8_t in_use_ = kNone;
    // Index into the present entries of the bitmap in use.
    std::uint64_t cursor_ = 0;
    std::uint64_t quality_cursor_ = 0;
    bool quality_ = false;
    Result<BitmapTarget> target_at(std::uint64_t& cursor) const;

    BitmapPhase phase_ = BitmapPhase::Idle;
    bool for_reuse_ = false;
    // History length at the last bitmap operator.
    std::uint64_t operator_anchor_ = 0;
    // Every bitmap counts back from the same place until 235000: where the first one did.
    bool backward_reference_set_ = false;
    std::uint64_t backward_reference_ = 0;
};

// Position numbers of text values. Never reset within a message: uncompressed texts are
// numbered through all subsets, compressed text columns through the message.
struct TextNumbering {
    std::uint64_t text_counter = 0;         // uncompressed text values so far
    std::uint64_t text_column_counter = 0;  // compressed text columns so far
};

// One per message: reset for every subset (uncompressed) or used once (compressed).
struct ValueCodingState {
    OperatorState operators;
    BitmapState bitmaps;
    TextNumbering numbering;

    // Operators and bitmaps back to their initial values; the text numbering runs on.
    void reset_for_next_subset() {
        operators.reset();
        bitmaps.reset();
    }

    Result<BitmapTarget> next_bitmap_element() { return bitmaps.next_element(); }
};

}  // namespace corvane
