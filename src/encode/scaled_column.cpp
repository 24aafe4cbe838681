#include "encode/scaled_column.hpp"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::detail {

ScaledRange column_range(const double* column, std::size_t count, const NumberFit& fit) {
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
    ScaledRange range;
    range.any_missing = any_missing;
    if (low <= high) {
        range.low = nearest_whole(low * fit.divisor) - fit.reference;
        range.high = nearest_whole(high * fit.divisor) - fit.reference;
        range.misfit = !(range.low >= 0.0 && range.high <= fit.top);
    }
    return range;
}

}  // namespace corvane::detail
