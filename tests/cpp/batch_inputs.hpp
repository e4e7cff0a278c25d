// Arguments for the batch-against-scalar tests: random values over every
// branch of the kernels mixed with the edge cases, reproducible from a seed.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace batch_inputs {

inline constexpr double INF = std::numeric_limits<double>::infinity();
inline constexpr double QUIET_NAN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double SUBNORMAL = std::numeric_limits<double>::denorm_min();

inline std::string hex(double x) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    char text[32];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
    return text;
}

// Every interval end k/20 of the polynomials of K and E, and its neighbours.
inline std::vector<double> interval_ends() {
    std::vector<double> ends;
    for (int k = -1; k <= 20; ++k) {
        const double end = k / 20.0;
        ends.insert(ends.end(), {std::nextafter(end, -INF), end, std::nextafter(end, INF)});
    }
    return ends;
}

inline std::vector<double> special_values() {
    std::vector<double> values{QUIET_NAN, -QUIET_NAN, INF, -INF, 0.0, -0.0, SUBNORMAL, -SUBNORMAL,
                               1.0, std::nextafter(1.0, 0.0), std::nextafter(1.0, 2.0), 0.9999999999999998,
                               1.0000000000000002, -1e18, -1e300, 1e300, 2.0, -1.0, 0.5,
                               std::numeric_limits<double>::min()};
    const std::vector<double> ends = interval_ends();
    values.insert(values.end(), ends.begin(), ends.end());
    return values;
}

// A value of one of several regimes, chosen at random.
inline double regime_value(std::mt19937_64& random, const std::vector<double>& specials) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    switch (random() % 8) {
        case 0: return specials[random() % specials.size()];
        case 1: return 1.0 - std::pow(10.0, -16.0 * unit(random));            // next to 1
        case 2: return -std::pow(10.0, 6.0 * unit(random) - 3.0);             // negative
        case 3: return unit(random) * 1.2 - 0.1;                              // around [0, 1]
        case 4: return std::pow(10.0, -300.0 * unit(random));                 // tiny
        default: return unit(random);                                         // the common range
    }
}

// Parameters m for K, E and Π.
inline std::vector<double> parameters(std::size_t count, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    const std::vector<double> specials = special_values();
    std::vector<double> m(count);
    for (double& value : m) value = regime_value(random, specials);
    return m;
}

// Characteristics n for the parameters m: every regime, and n = m, n next to
// 1 on both sides, n > 1, negative n.
inline std::vector<double> characteristics(const std::vector<double>& m, std::uint64_t seed) {
    std::mt19937_64 random(seed);
    const std::vector<double> specials = special_values();
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> n(m.size());
    for (std::size_t i = 0; i < m.size(); ++i) {
        switch (random() % 10) {
            case 0: n[i] = m[i]; break;
            case 1: n[i] = 1.0 + std::pow(10.0, -16.0 * unit(random)); break;
            case 2: n[i] = 1.0 + std::pow(10.0, 3.0 * unit(random)); break;
            case 3: n[i] = std::nextafter(m[i], random() % 2 ? INF : -INF); break;
            default: n[i] = regime_value(random, specials); break;
        }
    }
    return n;
}

}  // namespace batch_inputs
