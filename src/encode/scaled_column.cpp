#include "encode/scaled_column.hpp"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane::detail {

namespace {

// One at a time, for what the vector loop leaves.
void scale_values(const double* column, double* scaled, std::size_t count, const NumberFit& fit, double absent,
                  ScaledRange& range) {
    for (std::size_t s = 0; s < count; ++s) {
        const double number = column[s];
        const double raw = nearest_whole(number * fit.divisor) - fit.reference;
        const bool missing = number != number;
        range.misfit |= !missing && !(raw >= 0.0 && raw <= fit.top);
        range.any_missing |= missing;
        const double kept = missing ? absent : raw;
        scaled[s] = kept;
        range.low = kept < range.low ? kept : range.low;
        range.high = kept > range.high ? kept : range.high;
    }
}

}  // namespace

ScaledRange scale_column(const double* column, double* scaled, std::size_t count, const NumberFit& fit, double absent) {
    ScaledRange range;
    std::size_t done = 0;
#if defined(__SSE2__)
    // Two at a time, as scale_values does one: compilers leave its selects and NaN-aware minimum
    // as branches.
    const __m128d divisor = _mm_set1_pd(fit.divisor);
    const __m128d reference = _mm_set1_pd(fit.reference);
    const __m128d top = _mm_set1_pd(fit.top);
    const __m128d whole = _mm_set1_pd(0x1p52);
    const __m128d sign = _mm_set1_pd(-0.0);
    const __m128d zero = _mm_setzero_pd();
    const __m128d kept_if_missing = _mm_set1_pd(absent);
    __m128d low = _mm_set1_pd(range.low);
    __m128d high = _mm_set1_pd(range.high);
    __m128d fitting = _mm_cmpeq_pd(zero, zero);
    __m128d missing_any = zero;
    for (; done + 2 <= count; done += 2) {
        const __m128d number = _mm_loadu_pd(column + done);
        const __m128d product = _mm_mul_pd(number, divisor);
        const __m128d shift = _mm_or_pd(_mm_and_pd(product, sign), whole);
        const __m128d rounded = _mm_sub_pd(_mm_add_pd(product, shift), shift);
        const __m128d small = _mm_cmplt_pd(_mm_andnot_pd(sign, product), whole);
        const __m128d raw = _mm_sub_pd(_mm_or_pd(_mm_and_pd(small, rounded), _mm_andnot_pd(small, product)), reference);
        const __m128d missing = _mm_cmpunord_pd(number, number);
        const __m128d fits = _mm_and_pd(_mm_cmpge_pd(raw, zero), _mm_cmple_pd(raw, top));
        fitting = _mm_and_pd(fitting, _mm_or_pd(missing, fits));
        missing_any = _mm_or_pd(missing_any, missing);
        const __m128d kept = _mm_or_pd(_mm_and_pd(missing, kept_if_missing), _mm_andnot_pd(missing, raw));
        _mm_storeu_pd(scaled + done, kept);
        low = _mm_min_pd(kept, low);
        high = _mm_max_pd(kept, high);
    }
    double lows[2];
    double highs[2];
    _mm_storeu_pd(lows, low);
    _mm_storeu_pd(highs, high);
    range.low = std::min(lows[0], lows[1]);
    range.high = std::max(highs[0], highs[1]);
    range.misfit = _mm_movemask_pd(fitting) != 3;
    range.any_missing = _mm_movemask_pd(missing_any) != 0;
#endif
    scale_values(column + done, scaled + done, count - done, fit, absent, range);
    return range;
}

}  // namespace corvane::detail
