// Private to the encoder: the two forms its values come in, behind one accessor, so that the
// sources read either without copying it.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "encode/encode.hpp"
#include "encode/scaled_column.hpp"

namespace corvane::detail {

// Subsets as spans of InputValue, each its own length.
class ListValues {
public:
    static constexpr bool kNumbersOnly = false;

    explicit ListValues(std::span<const SubsetInput> subsets) : subsets_(subsets) {
        shortest_ = subsets.empty() ? 0 : subsets[0].size();
        for (const SubsetInput& subset : subsets) shortest_ = std::min(shortest_, subset.size());
    }

    std::size_t count() const { return subsets_.size(); }
    std::size_t size(std::size_t subset) const { return subsets_[subset].size(); }
    // Every subset has at least this many values.
    std::size_t shortest() const { return shortest_; }
    const InputValue& at(std::size_t subset, std::size_t index) const { return subsets_[subset][index]; }
    // `visit(subset, input)` for value `index` of every subset in turn, until one returns false.
    template <class Visit>
    bool each(std::size_t index, Visit&& visit) const {
        for (std::size_t s = 0; s < subsets_.size(); ++s) {
            if (!visit(s, subsets_[s][index])) return false;
        }
        return true;
    }

private:
    std::span<const SubsetInput> subsets_;
    std::size_t shortest_ = 0;
};

// Values of a grid taken column by column, a block of them at a time.
struct ColumnBlock {
    static constexpr std::size_t kColumns = 8;  // a cache line of doubles
    std::vector<double> values;
    std::size_t first = 0;
    std::size_t columns = 0;
    // The range of every column of a grid of rows side by side, from one pass over it.
    std::vector<NumberRange> ranges;
};

// Subsets as rows of a grid of doubles, NaN for missing.
class GridValues {
public:
    static constexpr bool kNumbersOnly = true;

    explicit GridValues(const NumberGrid& grid) : grid_(grid) {}

    std::size_t count() const { return grid_.subsets; }
    std::size_t size(std::size_t) const { return grid_.values; }
    std::size_t shortest() const { return grid_.values; }
    InputValue at(std::size_t subset, std::size_t index) const {
        double number;
        std::memcpy(&number,
                    grid_.data + static_cast<std::ptrdiff_t>(subset) * grid_.subset_stride +
                        static_cast<std::ptrdiff_t>(index) * grid_.value_stride,
                    sizeof number);
        return std::isnan(number) ? InputValue{} : InputValue::of(number);
    }
    template <class Visit>
    bool each(std::size_t index, Visit&& visit) const {
        const std::uint8_t* at = grid_.data + static_cast<std::ptrdiff_t>(index) * grid_.value_stride;
        for (std::size_t s = 0; s < grid_.subsets; ++s, at += grid_.subset_stride) {
            double number;
            std::memcpy(&number, at, sizeof number);
            if (!visit(s, std::isnan(number) ? InputValue{} : InputValue::of(number))) return false;
        }
        return true;
    }

    // The range of value `index` over every subset: over the column in place, from one pass over
    // all rows at the first column when rows hold their values side by side, else gathered.
    NumberRange range(std::size_t index, ColumnBlock& block) const {
        if (in_place(index) || grid_.value_stride != sizeof(double)) {
            return column_range(column(index, block), grid_.subsets);
        }
        if (block.ranges.empty())
            block.ranges = row_ranges(grid_.data, grid_.subsets, grid_.values, grid_.subset_stride);
        return block.ranges[index];
    }

    // Value `index` of every subset, in place when the grid holds them side by side, else from
    // `block`: the values from `index` on, a few at a time, each row read once per cache line.
    const double* column(std::size_t index, ColumnBlock& block) const {
        const std::uint8_t* at = grid_.data + static_cast<std::ptrdiff_t>(index) * grid_.value_stride;
        if (in_place(index)) return reinterpret_cast<const double*>(at);
        if (index < block.first || index - block.first >= block.columns) {
            block.first = index;
            block.columns = std::min(ColumnBlock::kColumns, grid_.values - index);
            block.values.resize(block.columns * grid_.subsets);
            double* const out = block.values.data();
            const std::size_t subsets = grid_.subsets;
            const std::size_t columns = block.columns;
            const std::ptrdiff_t row_stride = grid_.subset_stride;
            const std::ptrdiff_t value_stride = grid_.value_stride;
            for (std::size_t s = 0; s < subsets; ++s, at += row_stride) {
                // Rows far apart defeat the hardware's prefetch: ask a few rows ahead, within the grid.
                if (s + 8 < subsets) __builtin_prefetch(at + 8 * row_stride);
                for (std::size_t k = 0; k < columns; ++k) {
                    std::memcpy(out + k * subsets + s, at + static_cast<std::ptrdiff_t>(k) * value_stride,
                                sizeof(double));
                }
            }
        }
        return block.values.data() + (index - block.first) * grid_.subsets;
    }

private:
    bool in_place(std::size_t index) const {
        const std::uint8_t* at = grid_.data + static_cast<std::ptrdiff_t>(index) * grid_.value_stride;
        return grid_.subset_stride == sizeof(double) && reinterpret_cast<std::uintptr_t>(at) % alignof(double) == 0;
    }

    NumberGrid grid_;
};

}  // namespace corvane::detail
