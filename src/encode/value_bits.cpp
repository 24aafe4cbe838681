#include "encode/value_bits.hpp"

#include <algorithm>
#include <cmath>

#include "descriptor/descriptor.hpp"
#include "encode/value_errors.hpp"
#include "walk/element_reading.hpp"

namespace corvane::detail {

namespace {

// A new reference value: sign and magnitude, a whole number.
bool reference_bits(double number, std::uint32_t width, std::uint64_t& raw) {
    const double magnitude = std::fabs(number);
    if (width == 0 || number != std::nearbyint(number) || !(magnitude <= static_cast<double>(all_ones(width - 1)))) {
        return false;
    }
    raw = static_cast<std::uint64_t>(magnitude);
    if (number < 0) raw |= std::uint64_t{1} << (width - 1);
    return true;
}

}  // namespace

bool all_ones_missing(const WalkValue& value) {
    if (value.kind == ValueKind::ReplicationFactor) return !is_class31(value.code);
    if (value.kind == ValueKind::AssociatedField) return false;
    return missing_when_all_ones(value.code, kPackageDecodeOptions);
}

Status number_bits(std::uint32_t subset, const WalkValue& value, const InputValue& input, std::uint16_t width,
                   bool all_ones_taken, std::uint64_t& raw) {
    if (input.kind == InputValue::Kind::Text) return wrong_type(subset, value, input);
    if (input.kind == InputValue::Kind::Missing) {
        raw = all_ones(width);
    } else if (value.kind == ValueKind::ReferenceDefinition) {
        if (!reference_bits(input.number, width, raw)) return reference_misfit(subset, value, input.number, width);
    } else if (const bool missing = all_ones_taken && all_ones_missing(value);
               !NumberFit(*value.field, width, missing).raw(input.number, raw)) {
        return number_misfit(subset, value, input.number, width, missing);
    }
    return {};
}

Status text_bytes(std::uint32_t subset, const WalkValue& value, const InputValue& input, std::uint16_t width,
                  std::uint8_t* out) {
    if (input.kind == InputValue::Kind::Number) return wrong_type(subset, value, input);
    const std::size_t size = (width + 7u) / 8;
    std::size_t length = size;
    if (input.kind == InputValue::Kind::Missing) {
        std::fill(out, out + size, std::uint8_t{0xFF});
    } else {
        Result<std::size_t> latin1 = latin1_text(input.text, out, size);
        if (!latin1) return text_misfit(subset, value, input.text, size, latin1.error().text());
        length = *latin1;
    }
    std::fill(out + length, out + size, std::uint8_t{' '});
    return {};
}

}  // namespace corvane::detail
