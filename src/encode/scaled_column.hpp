// Private to the encoder: the range of a grid's columns as raw bits, in passes without branches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "encode/value_bits.hpp"

namespace corvane::detail {

// The smallest and largest number of a column (NaN left out; low > high when every value is NaN),
// and whether one is NaN.
struct NumberRange {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    bool any_missing = false;
};

// The same as raw bits of a field, and whether a number does not fit it.
struct ScaledRange {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    bool misfit = false;
    bool any_missing = false;
};

// The range of `count` numbers side by side.
NumberRange column_range(const double* column, std::size_t count);

// The range of every column of `rows` rows of `columns` numbers, rows `row_stride` bytes apart,
// numbers of a row side by side: one pass in the order of memory.
std::vector<NumberRange> row_ranges(const std::uint8_t* data, std::size_t rows, std::size_t columns,
                                    std::ptrdiff_t row_stride);

// Scaling keeps the order of numbers, so the raw bits of the smallest and largest number bound
// every other's: two numbers are scaled.
ScaledRange scaled_range(const NumberRange& numbers, const NumberFit& fit);

}  // namespace corvane::detail
