#include "encode/scaled_column.hpp"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::detail {

NumberRange column_range(const double* column, std::size_t count) {
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    bool any_missing = false;
    std::size_t done = 0;
#if defined(__SSE2__)
    // minpd and maxpd keep their second operand when the first is NaN: missing values drop out.
    // Four pairs at a time, each with its own running extremes, so that no comparison waits for
    // the one before.
    constexpr std::size_t kLanes = 4;
    __m128d lows[kLanes];
    __m128d highs[kLanes];
    __m128d missing[kLanes];
    for (std::size_t k = 0; k < kLanes; ++k) {
        lows[k] = _mm_set1_pd(low);
        highs[k] = _mm_set1_pd(high);
        missing[k] = _mm_setzero_pd();
    }
    for (; done + 2 * kLanes <= count; done += 2 * kLanes) {
        for (std::size_t k = 0; k < kLanes; ++k) {
            const __m128d number = _mm_loadu_pd(column + done + 2 * k);
            lows[k] = _mm_min_pd(number, lows[k]);
            highs[k] = _mm_max_pd(number, highs[k]);
            missing[k] = _mm_or_pd(missing[k], _mm_cmpunord_pd(number, number));
        }
    }
    for (std::size_t k = 1; k < kLanes; ++k) {
        lows[0] = _mm_min_pd(lows[k], lows[0]);
        highs[0] = _mm_max_pd(highs[k], highs[0]);
        missing[0] = _mm_or_pd(missing[k], missing[0]);
    }
    double pair[2];
    _mm_storeu_pd(pair, lows[0]);
    low = std::min(pair[0], pair[1]);
    _mm_storeu_pd(pair, highs[0]);
    high = std::max(pair[0], pair[1]);
    any_missing = _mm_movemask_pd(missing[0]) != 0;
#endif
    for (; done < count; ++done) {
        const double number = column[done];
        any_missing |= number != number;
        low = number < low ? number : low;
        high = number > high ? number : high;
    }
    return {low, high, any_missing};
}

std::vector<NumberRange> row_ranges(const std::uint8_t* data, std::size_t rows, std::size_t columns,
                                    std::ptrdiff_t row_stride) {
    // Running extremes and NaN flags of every column, kept as doubles side by side for the vector loop.
    std::vector<double> lows(columns, std::numeric_limits<double>::infinity());
    std::vector<double> highs(columns, -std::numeric_limits<double>::infinity());
    std::vector<double> missing(columns, 0.0);
    for (std::size_t r = 0; r < rows; ++r) {
        const std::uint8_t* row = data + static_cast<std::ptrdiff_t>(r) * row_stride;
        std::size_t c = 0;
#if defined(__SSE2__)
        for (; c + 2 <= columns; c += 2) {
            const __m128d number = _mm_loadu_pd(reinterpret_cast<const double*>(row) + c);
            _mm_storeu_pd(lows.data() + c, _mm_min_pd(number, _mm_loadu_pd(lows.data() + c)));
            _mm_storeu_pd(highs.data() + c, _mm_max_pd(number, _mm_loadu_pd(highs.data() + c)));
            _mm_storeu_pd(missing.data() + c,
                          _mm_or_pd(_mm_loadu_pd(missing.data() + c), _mm_cmpunord_pd(number, number)));
        }
#endif
        for (; c < columns; ++c) {
            double number;
            std::memcpy(&number, row + c * sizeof(double), sizeof number);
            lows[c] = number < lows[c] ? number : lows[c];
            highs[c] = number > highs[c] ? number : highs[c];
            if (number != number) missing[c] = 1.0;
        }
    }
    std::vector<NumberRange> ranges(columns);
    for (std::size_t c = 0; c < columns; ++c) {
        // A NaN flag of the vector loop is all ones, which is itself NaN; the scalar loop's is 1.
        ranges[c] = {lows[c], highs[c], missing[c] != 0.0};
    }
    return ranges;
}

ScaledRange scaled_range(const NumberRange& numbers, const NumberFit& fit) {
    ScaledRange range;
    range.any_missing = numbers.any_missing;
    if (numbers.low <= numbers.high) {
        range.low = nearest_whole(numbers.low * fit.divisor) - fit.reference;
        range.high = nearest_whole(numbers.high * fit.divisor) - fit.reference;
        range.misfit = !(range.low >= 0.0 && range.high <= fit.top);
    }
    return range;
}

}  // namespace corvane::detail
