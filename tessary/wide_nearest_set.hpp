// NearestSet's order for up to 16 entries, kept with AVX2 on x86 processors
// that have it: a newcomer moves every entry behind it in one pass of vector
// compares and blends, with no branch to mispredict. Only add() runs AVX2
// code; everything else, and the search that calls it, is compiled for the
// baseline processor, so the module still loads and runs where AVX2 is
// missing: see wideSetUsable.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define TESSARY_WIDE_SET 1
#include <immintrin.h>
#if defined(__GNUC__)
#define TESSARY_AVX2 __attribute__((target("avx2")))
#else
#define TESSARY_AVX2
#endif
#else
#define TESSARY_WIDE_SET 0
#endif

namespace tessary {

// Whether the processor, and the system for its wide registers, run AVX2
// code; never on other processors.
bool wideSetUsable();

#if TESSARY_WIDE_SET
class WideNearestSet {
public:
    static constexpr std::int32_t most = 16;

    // finish() writes the entries into `distances` and `numbers`.
    WideNearestSet(double* distances, double* numbers, std::int32_t capacity)
        : outDistances_(distances),
          outNumbers_(numbers),
          capacity_(capacity),
          vectors_((capacity + 3) / 4),
          first_(4 * vectors_ - capacity) {
        std::fill(distances_, distances_ + first_, -std::numeric_limits<double>::infinity());
        std::fill(distances_ + first_, distances_ + 4 * vectors_, std::numeric_limits<double>::max());
        std::fill(numbers_, numbers_ + 4 * vectors_, 0.0);
    }

    double worst() const { return worst_; }
    std::int32_t size() const { return count_; }

    // Only for `distance < worst()`. Each entry greater than `distance`
    // becomes the entry before it or `distance`, whichever is greater: the
    // newcomer goes behind every entry of equal distance. The lanes before
    // the first entry hold -Inf, which never moves.
    TESSARY_AVX2 void add(double distance, double number) {
        const __m256d d = _mm256_set1_pd(distance), n = _mm256_set1_pd(number);
        // What moves into lane 0: lane 3 of the vector before; at first
        // nothing moves there.
        __m256d beforeD = d, beforeN = n, beforeMoved = _mm256_setzero_pd(), newD = d;
        for (std::int32_t v = 0; v < vectors_; ++v) {
            const __m256d dv = _mm256_loadu_pd(distances_ + 4 * v), nv = _mm256_loadu_pd(numbers_ + 4 * v);
            const __m256d moved = _mm256_cmp_pd(dv, d, _CMP_GT_OQ);
            const __m256d upD = lanesUp(dv, beforeD), upN = lanesUp(nv, beforeN), upMoved = lanesUp(moved, beforeMoved);
            newD = _mm256_blendv_pd(dv, _mm256_blendv_pd(d, upD, upMoved), moved);
            _mm256_storeu_pd(distances_ + 4 * v, newD);
            _mm256_storeu_pd(numbers_ + 4 * v, _mm256_blendv_pd(nv, _mm256_blendv_pd(n, upN, upMoved), moved));
            beforeD = dv;
            beforeN = nv;
            beforeMoved = moved;
        }
        // Taken from the register: a load of one lane of the vector just
        // stored would wait for the store to complete.
        worst_ = _mm256_cvtsd_f64(_mm256_permute4x64_pd(newD, 0xFF));
        if (count_ < capacity_) ++count_;
    }

    void finish() const {
        std::copy(distances_ + first_, distances_ + first_ + count_, outDistances_);
        std::copy(numbers_ + first_, numbers_ + first_ + count_, outNumbers_);
    }

private:
    // Each lane's predecessor: lanes 0-2 of `v` one lane up, and lane 3 of
    // `before` into lane 0.
    TESSARY_AVX2 static __m256d lanesUp(__m256d v, __m256d before) {
        return _mm256_blend_pd(_mm256_permute4x64_pd(v, 0x93), _mm256_permute4x64_pd(before, 0xFF), 1);
    }

    alignas(32) double distances_[most];
    alignas(32) double numbers_[most];
    double* outDistances_;
    double* outNumbers_;
    std::int32_t capacity_;
    std::int32_t vectors_;
    std::int32_t first_;  // the entries fill the vectors' last lanes, the worst in the last
    std::int32_t count_ = 0;
    double worst_ = std::numeric_limits<double>::max();
};
#endif

}  // namespace tessary
