// Private to the encoder: the bits of one value of one subset, whichever layout holds them.
#pragma once

#include <cmath>
#include <cstdint>

#include "encode/encode.hpp"
#include "error/error.hpp"
#include "walk/element_reading.hpp"
#include "walk/walk_types.hpp"

namespace corvane::detail {

// Whether the reader takes all ones in this value's field as missing; if so, no number may
// take them.
bool all_ones_missing(const WalkValue& value);

// Half to even, as nearbyint rounds in the default mode, without a call into libm per value.
inline double nearest_whole(double x) {
    constexpr double kWhole = 0x1p52;  // every double from here on is whole
    const double shift = std::copysign(kWhole, x);
    const double rounded = (x + shift) - shift;
    // A select, not a branch, so that a loop of these runs in vector registers.
    return std::fabs(x) < kWhole ? rounded : x;
}

// How the numbers of one numeric field become its raw bits, set up once per field.
struct NumberFit {
    double divisor;
    double reference;
    double top;

    // `missing`: all ones are no number's.
    NumberFit(const NumericField& field, std::uint32_t width, bool missing)
        : divisor(field.divisor),
          reference(static_cast<double>(field.reference)),
          top(static_cast<double>(all_ones(width)) - (missing && width != 0 ? 1.0 : 0.0)) {}

    // The raw bits of `number`, rounded to the field's scale; false when they do not fit.
    bool raw(double number, std::uint64_t& out) const {
        const double scaled = nearest_whole(number * divisor) - reference;
        if (!(scaled >= 0.0 && scaled <= top)) return false;
        out = static_cast<std::uint64_t>(scaled);
        return true;
    }
};

// The `width` raw bits of `input` (a number or missing) for `value` of `subset`, as the walk reads
// them back; it fails when the number does not fit or `input` is a text. `all_ones_taken`: all
// ones, where the reader takes them as missing, are no number's.
Status number_bits(std::uint32_t subset, const WalkValue& value, const InputValue& input, std::uint16_t width,
                   bool all_ones_taken, std::uint64_t& raw);

// `input` (a text or missing) as the ceil(width / 8) bytes of its field in `out`: Latin-1 padded
// with blanks, all ones when missing.
Status text_bytes(std::uint32_t subset, const WalkValue& value, const InputValue& input, std::uint16_t width,
                  std::uint8_t* out);

// The `width` bits of a text field made by text_bytes, to `out` (a BitWriter).
template <class Out>
void write_text(Out& out, const std::uint8_t* bytes, std::uint16_t width) {
    const unsigned whole = width / 8;
    const unsigned tail = width % 8;
    for (unsigned i = 0; i < whole; ++i) out.write(bytes[i], 8);
    if (tail != 0) out.write(bytes[whole] >> (8 - tail), tail);
}

}  // namespace corvane::detail
