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
// sqrt and abs, and lane masks for iterations whose lanes stop one by one:
// `close` (|x − y| ≤ tolerance·x, lane by lane), `none`, `either`, `all`
// and `select` (x where the mask holds, y elsewhere). For doubles:
struct DoubleOps {
    using Mask = bool;
    static double sqrt(double x) { return std::sqrt(x); }
    static double abs(double x) { return std::fabs(x); }
    static Mask close(double x, double y, double tolerance) { return std::fabs(x - y) <= x * tolerance; }
    static Mask none(double) { return false; }
    static Mask either(Mask a, Mask b) { return a || b; }
    static bool all(Mask mask) { return mask; }
    static double select(Mask mask, double x, double y) { return mask ? x : y; }
};

// For Jet<T, N>, from those of T (Base); convergence is tested on the value.
template <class Base, class T, std::size_t N>
struct JetOps {
    using Number = Jet<T, N>;
    using Mask = typename Base::Mask;
    static Number sqrt(const Number& a);
    static Number abs(const Number& a) {
        const T size = Base::abs(a.v);
        const T sign = size / a.v;
        Number r{size, {}};
        for (std::size_t k = 0; k < N; ++k) r.d[k] = a.d[k] * sign;
        return r;
    }
    static Mask close(const Number& x, const Number& y, double tolerance) { return Base::close(x.v, y.v, tolerance); }
    static Mask none(const Number& x) { return Base::none(x.v); }
    static Mask either(Mask a, Mask b) { return Base::either(a, b); }
    static bool all(Mask mask) { return Base::all(mask); }
    static Number select(Mask mask, const Number& x, const Number& y) {
        Number r{Base::select(mask, x.v, y.v), {}};
        for (std::size_t k = 0; k < N; ++k) r.d[k] = Base::select(mask, x.d[k], y.d[k]);
        return r;
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
