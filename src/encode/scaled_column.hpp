// Private to the encoder: a column of a grid of numbers as raw bits, in one pass without branches.
#pragma once

#include <cstddef>
#include <limits>

#include "encode/value_bits.hpp"

namespace corvane::detail {

// What a pass over a grid's column found: the smallest and largest raw bits kept (NaN left out),
// whether a value does not fit, whether one is missing.
struct ScaledRange {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    bool misfit = false;
    bool any_missing = false;
};

// `scaled[s]`: the raw bits of `column[s]` (exact as doubles up to 52 bits), or `absent` where it
// is NaN.
ScaledRange scale_column(const double* column, double* scaled, std::size_t count, const NumberFit& fit, double absent);

}  // namespace corvane::detail
