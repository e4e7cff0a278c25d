// Lane-wise double arithmetic for the batch kernels, on GCC's vector
// extensions: `V` holds CALDRITH_SIMD_WIDTH doubles, `M` the matching lane
// masks (all bits set where a comparison holds).
//
// Why vector extensions: +, −, ×, ÷ and comparisons on them are the IEEE
// operations lane by lane, written with the ordinary operators, so a batch
// formula reads exactly like its scalar original and keeps its grouping; the
// compiler never fuses or reorders them (the build has -ffp-contract=off and
// no fast-math). One source serves every instruction set: it is compiled once
// per path with that path's flags, and nothing beyond the compiler is needed
// (no new dependency). The few operations the operators lack (square root,
// mask tests, table look-ups) use the path's intrinsics. The alternatives
// weighed: std::experimental::simd would serve as well but adds nothing the
// extensions lack here; Highway and xsimd bring a dependency, their own
// dispatch and their own (not the C library's) elementary functions, none of
// which this code may use.
//
// Include only from a source compiled once per path, with CALDRITH_SIMD_PATH
// (a namespace name) and CALDRITH_SIMD_WIDTH (2 or 4 lanes) defined: every
// definition lives in that path's own namespace, so the copies compiled for
// different instruction sets never meet in the link.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#if !defined(CALDRITH_SIMD_PATH) || !defined(CALDRITH_SIMD_WIDTH)
#error "lanes.hpp belongs to a source compiled once per vector path"
#endif

namespace caldrith::simd::CALDRITH_SIMD_PATH {

inline constexpr int WIDTH = CALDRITH_SIMD_WIDTH;

typedef double V __attribute__((vector_size(WIDTH * sizeof(double))));
typedef std::int64_t M __attribute__((vector_size(WIDTH * sizeof(double))));

#define CALDRITH_LANES_INLINE [[gnu::always_inline]] inline

CALDRITH_LANES_INLINE V splat(double x) {
    V v;
    for (int i = 0; i < WIDTH; ++i) v[i] = x;
    return v;
}

CALDRITH_LANES_INLINE V load(const double* p) {
    V v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

// Lanes [0, count) from p, `fill` in the others: the last, partial block of
// a batch.
CALDRITH_LANES_INLINE V load_first(const double* p, std::size_t count, double fill) {
    if (count == WIDTH) {
        return load(p);
    }
    V v = splat(fill);
    for (std::size_t i = 0; i < count; ++i) v[i] = p[i];
    return v;
}

// Correctly rounded square root in every lane.
CALDRITH_LANES_INLINE V sqrt(V v) {
#if CALDRITH_SIMD_WIDTH == 4 && defined(__AVX__)
    return _mm256_sqrt_pd(v);
#elif CALDRITH_SIMD_WIDTH == 2 && defined(__SSE2__)
    return _mm_sqrt_pd(v);
#else
    V r;
    for (int i = 0; i < WIDTH; ++i) r[i] = std::sqrt(v[i]);
    return r;
#endif
}

// |v|: the sign bit cleared, as std::fabs.
CALDRITH_LANES_INLINE V abs(V v) {
    return (V)((M)v & static_cast<std::int64_t>(0x7fffffffffffffff));
}

CALDRITH_LANES_INLINE V select(M mask, V if_true, V if_false) { return mask ? if_true : if_false; }

// std::fmax lane by lane: a NaN operand yields the other one. (Of two zeros
// the second operand is returned, as the x86-64 C library does.)
CALDRITH_LANES_INLINE V fmax(V a, V b) { return (a > b) | (b != b) ? a : b; }

// |v| ≤ largest double: neither infinite nor NaN.
CALDRITH_LANES_INLINE M is_finite(V v) { return abs(v) <= 1.7976931348623157e308; }

// One bit per lane, lane 0 lowest.
CALDRITH_LANES_INLINE unsigned bits(M mask) {
#if CALDRITH_SIMD_WIDTH == 4 && defined(__AVX__)
    return static_cast<unsigned>(_mm256_movemask_pd((__m256d)mask));
#elif CALDRITH_SIMD_WIDTH == 2 && defined(__SSE2__)
    return static_cast<unsigned>(_mm_movemask_pd((__m128d)mask));
#else
    unsigned result = 0;
    for (int i = 0; i < WIDTH; ++i) result |= (mask[i] != 0 ? 1u : 0u) << i;
    return result;
#endif
}

CALDRITH_LANES_INLINE bool any(M mask) { return bits(mask) != 0; }

// base[index] in every lane.
CALDRITH_LANES_INLINE V gather(const double* base, M index) {
#if CALDRITH_SIMD_WIDTH == 4 && defined(__AVX2__)
    return _mm256_i64gather_pd(base, (__m256i)index, 8);
#else
    V v;
    for (int i = 0; i < WIDTH; ++i) v[i] = base[index[i]];
    return v;
#endif
}

// trunc(v) as a signed 64-bit integer, for lanes known to be in range.
CALDRITH_LANES_INLINE M truncate(V v) { return __builtin_convertvector(v, M); }

// f(lane value) in every lane of `active`, `otherwise` elsewhere: the path
// for the C library's scalar functions (atan, log1p, pow), called per lane so
// that their results are those of the scalar code.
template <class F>
CALDRITH_LANES_INLINE V per_lane(M active, V otherwise, F&& f) {
    unsigned pending = bits(active);
    if (pending == (1u << WIDTH) - 1) {
        // Every lane: a loop of fixed length, unrolled.
        for (int i = 0; i < WIDTH; ++i) {
            otherwise[i] = f(i);
        }
        return otherwise;
    }
    while (pending != 0) {
        const int i = __builtin_ctz(pending);
        pending &= pending - 1;
        otherwise[i] = f(i);
    }
    return otherwise;
}

}  // namespace caldrith::simd::CALDRITH_SIMD_PATH
