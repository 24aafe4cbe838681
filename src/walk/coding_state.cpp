#include "walk/coding_state.hpp"

namespace corvane {

namespace {

void forget(Bitmap& bitmap) {
    bitmap.present.clear();
    bitmap.length = 0;
    bitmap.anchor = 0;
    bitmap.defined = false;
}

}  // namespace

void OperatorState::reset() {
    std::unordered_map<std::uint32_t, std::int64_t> kept = std::move(new_references);
    kept.clear();
    *this = OperatorState{};
    new_references = std::move(kept);
}

void BitmapState::reset() {
    descriptor_history.clear();
    cancel_backward_reference();
    for_reuse_ = false;
    operator_anchor_ = 0;
}

void BitmapState::expect_quality() {
    expect(false);
    quality_ = true;
}

void BitmapState::expect(bool for_reuse) {
    // 222000 then 236000 introduce one bitmap of quality information.
    if (!for_reuse) quality_ = false;
    // 222000 then 236000 introduce one bitmap, to be reused.
    for_reuse_ = for_reuse || (phase_ == BitmapPhase::Expecting && for_reuse_);
    phase_ = BitmapPhase::Expecting;
    operator_anchor_ = descriptor_history.size();
}

void BitmapState::reuse() {
    phase_ = BitmapPhase::Idle;
    in_use_ = bitmaps_[kReusable].defined ? kReusable : bitmaps_[kLatest].defined ? kLatest : kNone;
    cursor_ = quality_cursor_ = 0;
}

void BitmapState::cancel() {
    phase_ = BitmapPhase::Idle;
    forget(bitmaps_[kReusable]);
    forget(bitmaps_[kLatest]);
    in_use_ = kNone;
    cursor_ = 0;
    quality_ = false;
}

void BitmapState::cancel_backward_reference() {
    cancel();
    backward_reference_set_ = false;
    backward_reference_ = 0;
}

bool BitmapState::takes_entry(std::uint32_t code) {
    if (code != 31031 || phase_ == BitmapPhase::Idle) {
        end_definition();
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
        cursor_ = quality_cursor_ = 0;
        phase_ = BitmapPhase::Defining;
    }
    return true;
}

void BitmapState::add_entry(std::uint8_t entry) {
    Bitmap& bitmap = bitmaps_[in_use_];
    if (entry != 1) bitmap.present.push_back(static_cast<std::uint32_t>(bitmap.length));
    ++bitmap.length;
}

void BitmapState::end_run() {
    if (phase_ == BitmapPhase::Defining) phase_ = BitmapPhase::Idle;
}

Result<BitmapTarget> BitmapState::next_element() { return target_at(cursor_); }

Result<BitmapTarget> BitmapState::next_quality_element() {
    if (!quality_) return BitmapTarget{};
    return target_at(quality_cursor_);
}

Result<BitmapTarget> BitmapState::target_at(std::uint64_t& cursor) const {
    if (in_use_ == kNone) return BitmapTarget{};
    const Bitmap& bitmap = bitmaps_[in_use_];
    if (cursor >= bitmap.present.size()) return BitmapTarget{};
    const std::uint64_t position = bitmap.present[cursor++];
    const std::uint64_t start = bitmap.anchor >= bitmap.length ? bitmap.anchor - bitmap.length : 0;
    const std::uint64_t index = start + position;
    if (index >= descriptor_history.size()) {
        return BufrError::invalid_data("bitmap reference is outside descriptor history");
    }
    return BitmapTarget{descriptor_history[index], index};
}

}  // namespace corvane
