#include "walk/operators.hpp"

#include "descriptor/descriptor.hpp"

namespace corvane::detail {

namespace {

// 10^y wrapping in 64 bits: large operands are nonsense but must not be undefined.
std::int64_t wrapping_power_of_ten(std::uint32_t y) {
    std::uint64_t result = 1;
    std::uint64_t base = 10;
    while (y != 0) {
        if ((y & 1) != 0) result *= base;
        y >>= 1;
        base *= base;
    }
    return static_cast<std::int64_t>(result);
}

std::int32_t signed_operand(std::uint32_t y) { return y == 0 ? 0 : static_cast<std::int32_t>(y) - 128; }

}  // namespace

OperatorStep operator_step(std::uint32_t code) {
    const std::uint32_t x = descriptor_x(code);
    const std::uint32_t y = descriptor_y(code);
    OperatorStep step;
    switch (x) {
        case 3:
            step.marker = true;
            break;
        case 22:
            step.marker = y == 0;
            if (y == 0) step.bitmap = BitmapChange::ExpectQuality;
            break;
        case 62:
            step.marker = y == 0;
            break;
        case 23:
        case 24:
        case 25:
        case 32:
            step.bitmap_driven = y == 255;
            step.marker = y != 255;
            if (y == 0) step.bitmap = BitmapChange::Expect;
            break;
        case 26:
        case 27:
        case 29:
        case 30:
        case 31:
        case 33:
        case 34:
        case 38:
        case 39:
        case 40:
        case 41:
        case 42:
            step.marker = true;
            break;
        case 35:
            step.marker = true;
            if (y == 0) step.bitmap = BitmapChange::CancelBackward;
            break;
        case 36:
            step.marker = y == 0;
            if (y == 0) step.bitmap = BitmapChange::ExpectReusable;
            break;
        case 37:
            step.marker = true;
            step.bitmap = y == 0 ? BitmapChange::Reuse : BitmapChange::Cancel;
            break;
        default:
            break;
    }
    return step;
}

void apply_bitmap_change(BitmapChange change, BitmapState& bitmaps) {
    switch (change) {
        case BitmapChange::None:
            break;
        case BitmapChange::Expect:
            bitmaps.expect(false);
            break;
        case BitmapChange::ExpectQuality:
            bitmaps.expect_quality();
            break;
        case BitmapChange::ExpectReusable:
            bitmaps.expect(true);
            break;
        case BitmapChange::Reuse:
            bitmaps.reuse();
            break;
        case BitmapChange::Cancel:
            bitmaps.cancel();
            break;
        case BitmapChange::CancelBackward:
            bitmaps.cancel_backward_reference();
            break;
    }
}

void apply_operator(std::uint32_t code, OperatorState& state) {
    const std::uint32_t y = descriptor_y(code);
    switch (descriptor_x(code)) {
        case 1:
            state.width_delta = signed_operand(y);
            break;
        case 2:
            state.scale_delta = signed_operand(y);
            break;
        case 3:
            // 1..254 opens a definition, 255 closes it, 0 also drops every redefined reference.
            state.new_reference_width = y == 255 ? 0 : static_cast<std::uint8_t>(y);
            if (y == 0) state.new_references.clear();
            break;
        case 4:
            state.associated_field_width = static_cast<std::uint8_t>(y);
            break;
        case 6:
            state.local_width_pending = true;
            state.local_width = static_cast<std::uint16_t>(y);
            break;
        case 7:
            state.width_delta = y == 0 ? 0 : static_cast<std::int32_t>((10 * y + 2) / 3);
            state.scale_delta = static_cast<std::int32_t>(y);
            state.reference_multiplier = wrapping_power_of_ten(y);
            break;
        case 8:
            state.text_width_set = y != 0;
            state.text_width_bits = static_cast<std::uint16_t>(8 * y);
            break;
        default:
            break;
    }
}

}  // namespace corvane::detail
