// Forward-mode derivatives: a number carried with its derivatives along N
// directions, Jet<T, N> = (v, d₁ … d_N), T a double or a vector of lanes
// (GCC's vector extensions). A formula written once on a template type gives
// its value on T and its value with derivatives on Jet<T, N>; every
// derivative is that of the operations as written, so it needs no
// difference quotient and loses no digits to one.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>

namespace caldrith {

template <class T, std::size_t N>
struct Jet {
    T v;
    std::array<T, N> d;
};

// x with zero derivatives.
template <class T, std::size_t N>
Jet<T, N> constant_jet(T x) {
    Jet<T, N> jet{x, {}};
    jet.d.fill(T{});
    return jet;
}

template <class T, std::size_t N>
Jet<T, N> operator+(const Jet<T, N>& a, const Jet<T, N>& b) {
    Jet<T, N> r{a.v + b.v, {}};
    for (std::size_t k = 0; k < N; ++k) r.d[k] = a.d[k] + b.d[k];
    return r;
}

template <class T, std::size_t N>
Jet<T, N> operator-(const Jet<T, N>& a, const Jet<T, N>& b) {
    Jet<T, N> r{a.v - b.v, {}};
    for (std::size_t k = 0; k < N; ++k) r.d[k] = a.d[k] - b.d[k];
    return r;
}

template <class T, std::size_t N>
Jet<T, N> operator*(const Jet<T, N>& a, const Jet<T, N>& b) {
    Jet<T, N> r{a.v * b.v, {}};
    for (std::size_t k = 0; k < N; ++k) r.d[k] = a.d[k] * b.v + a.v * b.d[k];
    return r;
}

template <class T, std::size_t N>
Jet<T, N> operator/(const Jet<T, N>& a, const Jet<T, N>& b) {
    const T inverse = 1.0 / b.v;
    Jet<T, N> r{a.v / b.v, {}};
    for (std::size_t k = 0; k < N; ++k) r.d[k] = (a.d[k] - r.v * b.d[k]) * inverse;
    return r;
}

// With a constant of the underlying type or a double on either side.
template <class T, std::size_t N, class S>
Jet<T, N> operator+(const Jet<T, N>& a, S b) {
    return {a.v + b, a.d};
}
template <class T, std::size_t N, class S>
Jet<T, N> operator+(S a, const Jet<T, N>& b) {
    return {a + b.v, b.d};
}
template <class T, std::size_t N, class S>
Jet<T, N> operator-(const Jet<T, N>& a, S b) {
    return {a.v - b, a.d};
}
template <class T, std::size_t N, class S>
Jet<T, N> operator-(S a, const Jet<T, N>& b) {
    Jet<T, N> r{a - b.v, {}};
    for (std::size_t k = 0; k < N; ++k) r.d[k] = -b.d[k];
    return r;
}
template <class T, std::size_t N, class S>
Jet<T, N> operator*(const Jet<T, N>& a, S b) {
    Jet<T, N> r{a.v * b, {}};
    for (std::size_t k = 0; k < N; ++k) r.d[k] = a.d[k] * b;
    return r;
}
template <class T, std::size_t N, class S>
Jet<T, N> operator*(S a, const Jet<T, N>& b) {
    return b * a;
}
template <class T, std::size_t N, class S>
Jet<T, N> operator/(const Jet<T, N>& a, S b) {
    const auto inverse = 1.0 / b;
    Jet<T, N> r{a.v / b, {}};
    for (std::size_t k = 0; k < N; ++k) r.d[k] = a.d[k] * inverse;
    return r;
}
template <class T, std::size_t N, class S>
Jet<T, N> operator/(S a, const Jet<T, N>& b) {
    const T inverse = 1.0 / b.v;
    Jet<T, N> r{a / b.v, {}};
    for (std::size_t k = 0; k < N; ++k) r.d[k] = -r.v * b.d[k] * inverse;
    return r;
}

// The arithmetic a formula on a template type needs beyond its operators:
// sqrt, abs and `close`, |x − y| ≤ tolerance·x in every lane (the
// convergence test of an iteration). For doubles:
struct DoubleOps {
    static double sqrt(double x) { return std::sqrt(x); }
    static double abs(double x) { return std::fabs(x); }
    static bool close(double x, double y, double tolerance) { return std::fabs(x - y) <= x * tolerance; }
};

// For Jet<T, N>, from those of T (Base); convergence is tested on the value.
template <class Base, class T, std::size_t N>
struct JetOps {
    using Number = Jet<T, N>;
    static Number sqrt(const Number& a);
    static Number abs(const Number& a) {
        const T size = Base::abs(a.v);
        const T sign = size / a.v;
        Number r{size, {}};
        for (std::size_t k = 0; k < N; ++k) r.d[k] = a.d[k] * sign;
        return r;
    }
    static bool close(const Number& x, const Number& y, double tolerance) {
        return Base::close(x.v, y.v, tolerance);
    }
};

template <class Base, class T, std::size_t N>
Jet<T, N> JetOps<Base, T, N>::sqrt(const Jet<T, N>& a) {
    const T s = Base::sqrt(a.v);
    const T half_inverse = 0.5 / s;
    Jet<T, N> r{s, {}};
    for (std::size_t k = 0; k < N; ++k) r.d[k] = a.d[k] * half_inverse;
    return r;
}

}  // namespace caldrith
