#include "models/star_series.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "models/star_series_tables.hpp"

namespace caldrith {
namespace {

using namespace star_series::detail;

static_assert(STAR_BASES == static_cast<std::size_t>(BASES));
static_assert(SERIES_MAX_RHO == RHO_MAX && SERIES_MAX_Z == Z_MAX);

// The orders are cut where the next term falls below this fraction of the
// first, at the farthest position of the tables.
constexpr double ORDER_CUT = 1e-16;
constexpr unsigned char UNFORMED = 0xff;
static_assert(MOST_COEFFICIENTS < UNFORMED);

// 2^p and the binary exponent of a positive normal double, exactly.
constexpr double power_of_two(int p) { return std::bit_cast<double>(static_cast<std::uint64_t>(1023 + p) << 52); }
int exponent_of(double x) { return static_cast<int>((std::bit_cast<std::uint64_t>(x) >> 52) & 0x7ff) - 1023; }

// The first interval of each region of the mesh, in the tables' order: the
// centre (the innermost interval first), inside the limb (outermost first),
// outside it (innermost first), and the unit intervals beyond z = 2.
constexpr std::size_t INSIDE_FIRST = CENTRE_LEVELS - 1;  // the index of inside level k is INSIDE_FIRST + k
constexpr std::size_t OUTSIDE_LAST = CENTRE_LEVELS + 2 * LIMB_LEVELS;  // outside level k is OUTSIDE_LAST - k
constexpr std::size_t FAR_FIRST = OUTSIDE_LAST + 1;

std::size_t orders_for(double rho) {
    const double reach = rho * (Z_MAX + 1);
    double power = 1.0;
    for (int n = 1; n < ORDERS; ++n) {
        power *= reach * reach;
        if (std::fabs(ORDER_COEFFICIENTS[n]) * power < ORDER_CUT) {
            return static_cast<std::size_t>(n);
        }
    }
    return ORDERS;
}

std::span<const double> table_polynomial(std::size_t basis, std::size_t order, std::size_t interval) {
    const Span span = SPANS[basis][order][interval];
    return {COEFFICIENTS + span.offset, span.length};
}

}  // namespace

MeshPoint locate_on_mesh(double z) {
    if (z < 0.5) {
        if (z < power_of_two(-CENTRE_LEVELS)) {
            return {0, z * power_of_two(CENTRE_LEVELS + 1) - 1.0, power_of_two(CENTRE_LEVELS + 1)};
        }
        const int k = -exponent_of(z) - 1;  // z in [2^-(k+1), 2^-k)
        const double scale = power_of_two(k + 2);
        return {static_cast<std::size_t>(CENTRE_LEVELS - k), z * scale - 3.0, scale};
    }
    if (z <= 1.0) {
        const double d = 1.0 - z;  // exact for z in [1/2, 1]
        if (d < power_of_two(-LIMB_LEVELS)) {
            const double scale = power_of_two(LIMB_LEVELS + 1);
            return {INSIDE_FIRST + LIMB_LEVELS, 1.0 - d * scale, scale};
        }
        const int k = std::max(1, -exponent_of(d) - 1);
        const double scale = power_of_two(k + 2);
        return {INSIDE_FIRST + static_cast<std::size_t>(k), 3.0 - d * scale, scale};
    }
    if (z < 2.0) {
        const double d = z - 1.0;  // exact for z in [1, 2]
        if (d < power_of_two(-LIMB_LEVELS)) {
            const double scale = power_of_two(LIMB_LEVELS + 1);
            return {OUTSIDE_LAST - LIMB_LEVELS, d * scale - 1.0, scale};
        }
        const int k = -exponent_of(d) - 1;
        const double scale = power_of_two(k + 2);
        return {OUTSIDE_LAST - static_cast<std::size_t>(k), d * scale - 3.0, scale};
    }
    const double unit = z < 3.0 ? 2.0 : 3.0;
    return {FAR_FIRST + static_cast<std::size_t>(unit - 2.0), 2.0 * (z - unit) - 1.0, 2.0};
}

std::vector<double> series_order_weights(double rho) {
    std::vector<double> weights(orders_for(rho));
    double power = 1.0 / rho;
    for (std::size_t n = 0; n < weights.size(); ++n) {
        weights[n] = ORDER_COEFFICIENTS[n] * power;
        power *= rho * rho;
    }
    return weights;
}

std::vector<double> series_order_weights_derivative(double rho) {
    std::vector<double> weights(orders_for(rho));
    double power = 1.0 / (rho * rho);
    for (std::size_t n = 0; n < weights.size(); ++n) {
        weights[n] = (2.0 * static_cast<double>(n) - 1.0) * ORDER_COEFFICIENTS[n] * power;
        power *= rho * rho;
    }
    return weights;
}

double basis_series(StarBasis basis, std::span<const double> order_weights, const MeshPoint& at) {
    const std::size_t b = static_cast<std::size_t>(basis);
    double sum = 0.0;
    for (std::size_t n = 0; n < order_weights.size(); ++n) {
        double value = 0.0;
        const std::span<const double> p = table_polynomial(b, n, at.interval);
        for (std::size_t j = p.size(); j-- > 0;) {
            value = value * at.s + p[j];
        }
        sum += order_weights[n] * value;
    }
    return sum;
}

SeriesGradient basis_series_gradient(StarBasis basis, std::span<const double> order_weights,
                                     std::span<const double> order_slopes, const MeshPoint& at) {
    const std::size_t b = static_cast<std::size_t>(basis);
    SeriesGradient sum{0.0, 0.0, 0.0};
    for (std::size_t n = 0; n < order_weights.size(); ++n) {
        double value = 0.0;
        double slope = 0.0;
        const std::span<const double> p = table_polynomial(b, n, at.interval);
        for (std::size_t j = p.size(); j-- > 0;) {
            slope = slope * at.s + value;
            value = value * at.s + p[j];
        }
        sum.value += order_weights[n] * value;
        sum.d_z += order_weights[n] * slope;
        sum.d_rho += order_slopes[n] * value;
    }
    sum.d_z *= at.ds_dz;
    return sum;
}

SeriesPolynomials::SeriesPolynomials(std::span<const Weights> sets)
    : sets_(sets),
      coefficients_(new double[static_cast<std::size_t>(INTERVALS) * MOST_COEFFICIENTS * sets.size()]),
      lengths_(INTERVALS, UNFORMED) {}

const double* SeriesPolynomials::polynomial(std::size_t interval, std::size_t& length) {
    const std::size_t count = sets_.size();
    double* out = coefficients_.get() + interval * MOST_COEFFICIENTS * count;
    if (lengths_[interval] == UNFORMED) {
        std::fill_n(out, MOST_COEFFICIENTS * count, 0.0);
        std::size_t longest = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const Weights& set = sets_[k];
            for (std::size_t b = 0; b < STAR_BASES; ++b) {
                if (set.basis[b] == 0.0) {
                    continue;
                }
                for (std::size_t n = 0; n < set.orders.size(); ++n) {
                    const double weight = set.basis[b] * set.orders[n];
                    const std::span<const double> p = table_polynomial(b, n, interval);
                    for (std::size_t j = 0; j < p.size(); ++j) {
                        out[j * count + k] += weight * p[j];
                    }
                    longest = std::max(longest, p.size());
                }
            }
        }
        lengths_[interval] = static_cast<unsigned char>(longest);
    }
    length = lengths_[interval];
    return out;
}

namespace {

// Horner's rule for `Width` of the interleaved polynomials at once, starting
// with set `first`, their accumulators in registers; with slopes, also the
// derivatives in s.
template <std::size_t Width, bool Slopes>
void horner_sets(const double* p, std::size_t length, std::size_t count, std::size_t first, double s, double* values,
                 double* slopes) {
    double value[Width] = {};
    double slope[Width] = {};
    for (std::size_t j = length; j-- > 0;) {
        const double* row = p + j * count + first;
        for (std::size_t k = 0; k < Width; ++k) {
            if constexpr (Slopes) {
                slope[k] = slope[k] * s + value[k];
            }
            value[k] = value[k] * s + row[k];
        }
    }
    for (std::size_t k = 0; k < Width; ++k) {
        values[first + k] = value[k];
        if constexpr (Slopes) {
            slopes[first + k] = slope[k];
        }
    }
}

// The sets [first, last).
template <bool Slopes>
void horner_range(const double* p, std::size_t length, std::size_t count, std::size_t first, std::size_t last,
                  double s, double* values, double* slopes) {
    for (; first + 4 <= last; first += 4) {
        horner_sets<4, Slopes>(p, length, count, first, s, values, slopes);
    }
    switch (last - first) {
        case 3: horner_sets<3, Slopes>(p, length, count, first, s, values, slopes); break;
        case 2: horner_sets<2, Slopes>(p, length, count, first, s, values, slopes); break;
        case 1: horner_sets<1, Slopes>(p, length, count, first, s, values, slopes); break;
        default: break;
    }
}

}  // namespace

void SeriesPolynomials::evaluate(const MeshPoint& at, double* values) {
    std::size_t length;
    const double* p = polynomial(at.interval, length);
    if (sets_.size() == 1) {
        // One law's magnification, the most common call: a plain Horner's rule.
        double value = 0.0;
        for (std::size_t j = length; j-- > 0;) {
            value = value * at.s + p[j];
        }
        values[0] = value;
        return;
    }
    horner_range<false>(p, length, sets_.size(), 0, sets_.size(), at.s, values, nullptr);
}

void SeriesPolynomials::evaluate(const MeshPoint& at, double* values, double* slopes, std::size_t sloped) {
    std::size_t length;
    const double* p = polynomial(at.interval, length);
    const std::size_t count = sets_.size();
    horner_range<true>(p, length, count, 0, sloped, at.s, values, slopes);
    horner_range<false>(p, length, count, sloped, count, at.s, values, nullptr);
    for (std::size_t k = 0; k < sloped; ++k) {
        slopes[k] *= at.ds_dz;
    }
}

}  // namespace caldrith
