// Private to the encoder: the range of a grid's column as raw bits, in one pass without branches.
#pragma once

#include <cstddef>
#include <limits>

#include "encode/value_bits.hpp"

namespace corvane::detail {

// What a pass over a grid's column found: the smallest and largest raw bits of its numbers (NaN
// left out; low > high when every value is NaN), whether one does not fit, whether one is missing.
struct ScaledRange {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    bool misfit = false;
    bool any_missing = false;
};

// Scaling keeps the order of numbers, so the raw bits of the smallest and largest number bound
// every other's: the pass compares numbers and scales two.
ScaledRange column_range(const double* column, std::size_t count, const NumberFit& fit);

}  // namespace corvane::detail
