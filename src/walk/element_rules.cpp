#include "walk/element_rules.hpp"

#include "walk/element_reading.hpp"

namespace corvane::detail {

std::int64_t end_new_reference(OperatorState& operators, std::uint32_t code, std::uint64_t bits, std::uint16_t width) {
    const std::int64_t reference = sign_magnitude(bits, width);
    operators.new_references.insert_or_assign(code, reference);
    return reference;
}

void end_unknown_local_element(ValueCodingState& state) {
    state.operators.local_width_pending = false;
    state.bitmaps.end_definition();
}

std::uint8_t bitmap_entry(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 255.0) return 255;
    return static_cast<std::uint8_t>(value);
}

void end_replication_factor(ValueCodingState& state, const ElementDefinition& factor, const NumericField& field) {
    state.bitmaps.end_run();
    state.bitmaps.descriptor_history.push_back(history_entry(factor, field));
}

}  // namespace corvane::detail
