#include "data/coding_state.hpp"

namespace corvane {

namespace {

void forget(Bitmap& bitmap) {
    bitmap.present.clear();
    bitmap.length = 0;
    bitmap.anchor = 0;
    bitmap.defined = false;
}

}  // namespace

void ValueCodingState::reset_for_next_subset() {
    descriptor_history.clear();
    reference_multiplier = 1;
    text_column_counter = 0;
    local_width_pending = false;
    local_width = 0;
    text_width_set = false;
    text_width_bits = 0;
    width_delta = 0;
    scale_delta = 0;
    associated_field_width = 0;
    new_reference_width = 0;
    new_references.clear();
    cancel_backward_reference();
}

void ValueCodingState::expect_bitmap(bool for_reuse) {
    // 222000 then 236000 introduce one bitmap, to be reused.
    for_reuse_ = for_reuse || (phase_ == BitmapPhase::Expecting && for_reuse_);
    phase_ = BitmapPhase::Expecting;
    operator_anchor_ = descriptor_history.size();
}

void ValueCodingState::reuse_bitmap() {
    phase_ = BitmapPhase::Idle;
    in_use_ = bitmaps_[kReusable].defined ? kReusable : bitmaps_[kLatest].defined ? kLatest : kNone;
    cursor_ = 0;
}

void ValueCodingState::cancel_bitmaps() {
    phase_ = BitmapPhase::Idle;
    forget(bitmaps_[kReusable]);
    forget(bitmaps_[kLatest]);
    in_use_ = kNone;
    cursor_ = 0;
}

void ValueCodingState::cancel_backward_reference() {
    cancel_bitmaps();
    backward_reference_set_ = false;
    backward_reference_ = 0;
}

bool ValueCodingState::takes_bitmap_entry(std::uint32_t code) {
    if (code != 31031 || phase_ == BitmapPhase::Idle) {
        end_bitmap_definition();
        return false;
    }
    if (phase_ == BitmapPhase::Expecting) {
        if (!backward_reference_set_) {
            backward_reference_ = operator_anchor_;
            backward_reference_set_ = true;
        }
        in_use_ = for_reuse_ ? kReusable : kLatest;
        Bitmap& bitmap = bitmaps_[in_use_];
        forget(bitmap);
        bitmap.anchor = backward_reference_;
        bitmap.defined = true;
        cursor_ = 0;
        phase_ = BitmapPhase::Defining;
    }
    return true;
}

void ValueCodingState::add_bitmap_entry(std::uint8_t entry) {
    Bitmap& bitmap = bitmaps_[in_use_];
    if (entry != 1) bitmap.present.push_back(static_cast<std::uint32_t>(bitmap.length));
    ++bitmap.length;
}

void ValueCodingState::end_bitmap_run() {
    if (phase_ == BitmapPhase::Defining) phase_ = BitmapPhase::Idle;
}

Result<const ElementDefinition*> ValueCodingState::next_bitmap_element() {
    if (in_use_ == kNone) return static_cast<const ElementDefinition*>(nullptr);
    const Bitmap& bitmap = bitmaps_[in_use_];
    if (cursor_ >= bitmap.present.size()) return static_cast<const ElementDefinition*>(nullptr);
    const std::uint64_t position = bitmap.present[cursor_++];
    const std::uint64_t start = bitmap.anchor >= bitmap.length ? bitmap.anchor - bitmap.length : 0;
    const std::uint64_t index = start + position;
    if (index >= descriptor_history.size()) return BufrError::parse("bitmap reference is outside descriptor history");
    return descriptor_history[index];
}

}  // namespace corvane
