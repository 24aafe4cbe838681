// Private to the walk: what an operator descriptor does to the walk and the coding state.
#pragma once

#include <cstdint>

#include "walk/coding_state.hpp"

namespace corvane::detail {

enum class BitmapChange : std::uint8_t {
    None,
    Expect,          // 223000, 224000, 225000, 232000
    ExpectQuality,   // 222000
    ExpectReusable,  // 236000
    Reuse,           // 237000
    Cancel,          // 237YYY
    CancelBackward,  // 235000
};

struct OperatorStep {
    bool marker = false;
    bool bitmap_driven = false;  // 223255, 224255, 225255, 232255
    BitmapChange bitmap = BitmapChange::None;
};

// 205YYY reads its own text; every other operator is an OperatorStep.
constexpr bool is_character_data(std::uint32_t code) { return (code % 100000) / 1000 == 5; }

// 203YYY other than 203000 and 203255 opens a definition of new reference values: what stands
// in it, up to the next 203YYY, describes the coding, not the data.
constexpr bool opens_new_references(std::uint32_t code) {
    return code / 1000 == 203 && code % 1000 != 0 && code % 1000 != 255;
}

OperatorStep operator_step(std::uint32_t code);
void apply_bitmap_change(BitmapChange change, BitmapState& bitmaps);
// The state change of an operator; reads nothing, never fails.
void apply_operator(std::uint32_t code, OperatorState& state);

}  // namespace corvane::detail
