// ln μ² and μ^α = exp((α/2) ln μ²) for μ² = 1 − t², 0 ≤ t ≤ 1, α > 0, written
// once on a template type T (a double or a vector of lanes) with its
// arithmetic Ops, so that every lane gives the scalar code's bits. About
// 2 ulp: ln x from x = 2^k m, m ∈ [√½, √2), as k ln 2 + 2 atanh(s),
// s = (m − 1)/(m + 1), by its series to s^21 (|s| ≤ 0.172); exp(y) from
// y = j ln 2 + r, |r| ≤ ln 2 / 2, by its Taylor polynomial to r^13, times 2^j.
//
// Ops adds to select of kernels/jet.hpp: Int (a 64-bit integer of T's
// shape), bits and from_bits (the representation), to_double and to_int
// (between integers and integral values).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace caldrith {

namespace power_detail {

inline constexpr double LN2 = 0x1.62e42fefa39efp-1;
// ln 2 split so that j·LN2_HIGH is exact for |j| < 2^11.
inline constexpr double LN2_HIGH = 0x1.62e42fefa3800p-1;
inline constexpr double LN2_LOW = 0x1.ef35793c76730p-45;
inline constexpr double INVERSE_LN2 = 0x1.71547652b82fep+0;
inline constexpr double SQRT2 = 0x1.6a09e667f3bcdp+0;
// Adding and subtracting 1.5·2^52 rounds to the nearest integer.
inline constexpr double ROUNDER = 0x1.8p52;
// Below this exponent the power is taken as 0 (its true value is below
// 1e-307).
inline constexpr double SMALLEST_EXPONENT = -708.0;

// 1/(2j + 1), j ≤ 10, and 1/n!, n ≤ 13, rounded once.
inline constexpr auto ODD_INVERSES = [] {
    std::array<double, 11> inverses{};
    for (int j = 0; j < 11; ++j) inverses[j] = 1.0 / (2.0 * j + 1.0);
    return inverses;
}();
inline constexpr auto INVERSE_FACTORIALS = [] {
    std::array<long double, 14> exact{};
    std::array<double, 14> inverses{};
    exact[0] = 1.0L;
    for (int n = 1; n < 14; ++n) exact[n] = exact[n - 1] / n;
    for (int n = 0; n < 14; ++n) inverses[n] = static_cast<double>(exact[n]);
    return inverses;
}();

// Σ_k c[k] x^k by Estrin's scheme: pairs, then pairs of pairs, with x², x⁴,
// x⁸, so that the chain of dependent operations is short (the lanes' and
// the processor's other work fill the gaps).
template <class T, std::size_t N>
[[gnu::always_inline]] inline T estrin(const std::array<double, N>& c, T x) {
    static_assert(N <= 16);
    std::array<T, (N + 1) / 2> level{};
    std::size_t count = 0;
    for (std::size_t k = 0; k < N; k += 2) {
        level[count++] = k + 1 < N ? x * c[k + 1] + c[k] : x * 0.0 + c[k];
    }
    T power = x * x;
    while (count > 1) {
        std::size_t next = 0;
        for (std::size_t k = 0; k < count; k += 2) {
            level[next++] = k + 1 < count ? level[k + 1] * power + level[k] : level[k];
        }
        count = next;
        power = power * power;
    }
    return level[0];
}

}  // namespace power_detail

// ln μ² for μ² = 1 − t², 0 ≤ t ≤ 1 (−∞ at t = 1). Where μ² ≥ √½ the series
// takes m − 1 = −t² as it is, not from the rounded 1 − t², so that a small t
// keeps its digits (ln μ² ≈ −t²: μ^α for a large α rests on them).
template <class Ops, class T>
[[gnu::always_inline]] inline T log_one_minus_square(T t) {
    using namespace power_detail;
    using Int = typename Ops::Int;
    const T x = (1.0 - t) * (1.0 + t);
    const Int bits = Ops::bits(x);
    T m = Ops::from_bits((bits & (Int{} + 0x000fffffffffffff)) | (Int{} + 0x3ff0000000000000));
    T k = Ops::to_double((bits >> 52) - 1023);
    const auto above = m > SQRT2;
    m = Ops::select(above, m * 0.5, m);
    k = Ops::select(above, k + 1.0, k);
    const T f = Ops::select(k == 0.0, T{} - t * t, m - 1.0);
    const T s = f / (f + 2.0);
    const T result = k * LN2 + (s + s) * estrin(ODD_INVERSES, s * s);
    return Ops::select(x == 0.0, T{} - std::numeric_limits<double>::infinity(), result);
}

// exp(y) for y ≤ 0 (0 below SMALLEST_EXPONENT).
template <class Ops, class T>
[[gnu::always_inline]] inline T exp_formula(T y) {
    using namespace power_detail;
    const T j = (y * INVERSE_LN2 + ROUNDER) - ROUNDER;
    const T r = (y - j * LN2_HIGH) - j * LN2_LOW;
    const T series = estrin(INVERSE_FACTORIALS, r);
    const T scale = Ops::from_bits((Ops::to_int(j) + 1023) << 52);
    return Ops::select(y < SMALLEST_EXPONENT, T{}, series * scale);
}

}  // namespace caldrith
