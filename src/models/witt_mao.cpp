// The Witt-Mao magnification of a uniform disk of radius ρ at separation u
// (both in Einstein radii), with n = 4uρ/(u+ρ)² and m = 4n/(4+(u−ρ)²):
//
//   A = (1/π) [ (u+ρ)√(4+(u−ρ)²)/(2ρ²) E(m)
//             − (u−ρ)(8+u²−ρ²)/(2ρ²√(4+(u−ρ)²)) K(m)
//             + 2(u−ρ)²(1+ρ²)/(ρ²(u+ρ)√(4+(u−ρ)²)) Π(n, m) ]
//
// Near the limb (u → ρ) the formula loses precision; there the exact value at
// u = ρ is used. For ρ ≤ 0 the point-source magnification is returned. The
// grouping of every operation is fixed so that results reproduce to the bit.
//
// The closed form cancels in two more regimes, where other forms take over:
// far from the star (an error of about (u/ρ)² ε), beyond u = 1000ρ, the
// far-field series (far_field.hpp); and for stars below ρ = 1e-4 (an error
// of about ε/ρ²), the small-source forms (small_source.hpp), with a
// near-limb window proportional to ρ and the far-field series beyond u = 30ρ.
#include "models/witt_mao.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "common/constants.hpp"
#include "kernels/elliptic.hpp"
#include "models/batch.hpp"
#include "models/far_field.hpp"
#include "models/small_source.hpp"
#include "pool/parallel_map.hpp"

namespace caldrith {
namespace {

constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

// Within this fraction of ρ from the limb uniform_disk_magnification takes the
// near-limb form: beyond it the closed form's error, about ε (2ρ/(u − ρ))²,
// stays below 4e-12.
constexpr double NEAR_LIMB_BAND = 0.01;

double point_source(double u) { return (u * u + 2.0) / (u * std::sqrt(u * u + 4.0)); }

// The lens on the limb, u = ρ exactly.
double on_limb(double rho) {
    const double q = rho * rho;
    return ((1.0 + q) / q * (std::asin((q - 1.0) / (1.0 + q)) + HALF_PI) + 2.0 / rho) / PI;
}

// The quantities of the closed form at (u, ρ) that both of its evaluations
// form alike.
struct ClosedForm {
    double u, rho, d, s, q, n, w;

    ClosedForm(double separation, double radius)
        : u(separation), rho(radius), d(u - rho), s(rho + u), q(rho * rho), n((4.0 * rho * u) / (s * s)),
          w(std::sqrt(d * d + 4.0)) {}

    // The three terms, from E, K and Π, in their fixed grouping.
    double magnification(double e, double big_k, double p) const {
        const double t_e = e * ((w * s) / (2.0 * q));
        const double t_k = (d * ((u * u - q) * 0.5 + 4.0) / (w * q)) * big_k;
        const double d2 = d * d;
        const double t_p = p * (((d2 + d2) * (1.0 + q)) / (w * (q * s)));
        return (t_p + (t_e - t_k)) / PI;
    }
};

double general(double u, double rho) {
    const ClosedForm form(u, rho);
    const double k = std::sqrt(4.0 * form.n) / form.w;
    const double m = k * k;

    const auto e = ellipe(m);
    if (!e) {
        return NAN_VALUE;
    }
    const auto big_k = ellipk(m);
    if (!big_k) {
        return NAN_VALUE;
    }
    const auto p = ellippi(form.n, m);
    if (!p) {
        return NAN_VALUE;
    }
    return form.magnification(*e, *big_k, *p);
}

// The closed form near the limb (u → ρ), where 1 − n = ((u − ρ)/(u + ρ))²
// keeps few digits when formed from n: E, K and Π from Carlson's integrals
// with 1 − n and 1 − m formed from d = u − ρ directly,
//   1 − m = d² (4 + s²) / (s² (4 + d²)),   K = RF(0, 1 − m, 1),
//   E = K − (m/3) RD(0, 1 − m, 1),          Π = K + (n/3) RJ(0, 1 − m, 1, 1 − n).
double near_limb(double u, double rho) {
    const ClosedForm form(u, rho);
    const double d2 = form.d * form.d;
    const double s2 = form.s * form.s;
    const double one_minus_n = d2 / s2;
    const double one_minus_m = d2 * (4.0 + s2) / (s2 * (4.0 + d2));
    const double m = 1.0 - one_minus_m;
    const double big_k = elliprf(0.0, one_minus_m, 1.0);
    const double e = big_k - m / 3.0 * elliprd(0.0, one_minus_m, 1.0);
    const double p = big_k + form.n / 3.0 * elliprj(0.0, one_minus_m, 1.0, one_minus_n);
    return form.magnification(e, big_k, p);
}

// The half-width of the band around the limb (|u − ρ| below it) in which
// the on-limb value is returned: max(relative × |ρ|, floor) for ρ ≥ 1e-4,
// relative × ρ below.
struct LimbWindow {
    double relative;
    double floor;
};

// The point source (ρ ≤ 0) and the far-field series beyond u = 1000ρ (30ρ
// for small stars, ρ < 1e-4), for a finite u; nothing elsewhere.
std::optional<double> point_or_far(double u, double rho) {
    if (rho <= 0.0) {
        return point_source(u);
    }
    const double far_position = rho < SMALL_SOURCE_RADIUS ? SMALL_SOURCE_FAR_POSITION : FAR_FIELD_POSITION;
    if (u > far_position * rho && u < std::numeric_limits<double>::infinity()) {
        return uniform_disk_far_field(u, rho);
    }
    return std::nullopt;
}

// The branches of the kernel, in this order: the point source (ρ ≤ 0); the
// far-field series beyond u = 1000ρ (30ρ for small stars), for a finite u;
// for 0 < ρ < 1e-4 the small-source forms; otherwise the near-limb value and
// the closed form.
double uniform_disk(double u, double rho, LimbWindow window) {
    if (const auto value = point_or_far(u, rho)) {
        return *value;
    }
    if (rho < SMALL_SOURCE_RADIUS) {
        if (window.relative * rho > std::fabs(u - rho)) {
            return uniform_disk_on_limb(rho);
        }
        return small_uniform_disk(u, rho);
    }
    // fmax ignores a NaN operand; a NaN ρ fails the comparison all the same.
    if (std::fmax(window.relative * std::fabs(rho), window.floor) > std::fabs(u - rho)) {
        return on_limb(rho);
    }
    return general(u, rho);
}

}  // namespace

double witt_mao_magnification_scaled(double u, double rho) { return uniform_disk(u, rho, {0.001, 1e-5}); }

double witt_mao_magnification_narrow(double u, double rho) { return uniform_disk(u, rho, {1e-5, 0.0}); }

double uniform_disk_magnification(double u, double rho) {
    if (const auto value = point_or_far(u, rho)) {
        return *value;
    }
    if (u == rho) {
        return uniform_disk_on_limb(rho);
    }
    if (rho < SMALL_SOURCE_RADIUS) {
        return small_uniform_disk(u, rho);
    }
    if (std::fabs(u - rho) < NEAR_LIMB_BAND * rho) {
        return near_limb(u, rho);
    }
    return general(u, rho);
}

void uniform_disk_magnifications(std::span<const double> u, double rho, double* results) {
    constexpr std::size_t BLOCK = 256;
    std::array<double, BLOCK> separations;
    std::array<double, BLOCK> values;
    std::array<std::size_t, BLOCK> slots;
    std::size_t gathered = 0;
    const ModelBatch& batch = model_batch();
    auto flush = [&] {
        batch.uniform_disk({separations.data(), gathered}, {&rho, 1}, NearLimbWindow::narrow,
                           {values.data(), gathered});
        for (std::size_t j = 0; j < gathered; ++j) {
            results[slots[j]] = values[j];
        }
        gathered = 0;
    };
    // Where uniform_disk_magnification takes the closed form, the narrow
    // window's kernel does the same (its window lies within the near-limb band).
    const bool closed_form_star = rho >= SMALL_SOURCE_RADIUS && rho < std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < u.size(); ++i) {
        const double x = u[i];
        if (closed_form_star && x >= 0.0 && x <= FAR_FIELD_POSITION * rho && !(std::fabs(x - rho) < NEAR_LIMB_BAND * rho)) {
            separations[gathered] = x;
            slots[gathered] = i;
            if (++gathered == BLOCK) {
                flush();
            }
        } else {
            results[i] = uniform_disk_magnification(x, rho);
        }
    }
    flush();
}

namespace {

// The uniform-disk kernel at the positions of a list, one by one or a chunk
// at a time with the batch kernel.
struct UniformDiskAt {
    // The batch kernel's time per position on one core, AVX2 and AVX-512
    // paths (bench/pool_hand_off.cpp); it decides whether a list is worth
    // sharing with the pool's workers.
    static constexpr std::chrono::nanoseconds ELEMENT_COST{110};

    double rho;

    std::chrono::nanoseconds element_cost() const { return ELEMENT_COST; }

    double operator()(double position) const { return witt_mao_magnification_scaled(position * rho, rho); }

    void chunk(std::span<const double> positions, double* results) const {
        constexpr std::size_t BLOCK = 1024;
        std::array<double, BLOCK> u;
        const ModelBatch& batch = model_batch();
        for (std::size_t begin = 0; begin < positions.size(); begin += BLOCK) {
            const std::size_t count = std::min(BLOCK, positions.size() - begin);
            for (std::size_t i = 0; i < count; ++i) {
                u[i] = positions[begin + i] * rho;
            }
            batch.uniform_disk({u.data(), count}, {&rho, 1}, NearLimbWindow::standard, {results + begin, count});
        }
    }
};

// One star, given as the pair (re, rstar), at every position of a list.
struct StarAt {
    std::span<const double> l;

    std::chrono::nanoseconds element_cost() const { return UniformDiskAt::ELEMENT_COST * l.size(); }

    std::vector<double> operator()(const std::pair<double, double>& star) const {
        return witt_mao_magnification(l, star.first, star.second);
    }
};

}  // namespace

std::vector<double> witt_mao_magnification(std::span<const double> l, double re, double rstar) {
    return parallel_map(l, UniformDiskAt{rstar / re});
}

std::vector<std::vector<double>> multi_witt_mao_magnification(std::span<const double> l,
                                                              std::span<const double> re,
                                                              std::span<const double> rstar) {
    std::vector<std::pair<double, double>> pairs;
    pairs.reserve(re.size() * rstar.size());
    for (const double einstein : re) {
        for (const double stellar : rstar) {
            pairs.emplace_back(einstein, stellar);
        }
    }
    return parallel_map(std::span<const std::pair<double, double>>(pairs), StarAt{l});
}

}  // namespace caldrith
