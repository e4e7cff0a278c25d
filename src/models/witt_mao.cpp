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
#include "models/witt_mao.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <utility>

#include "common/constants.hpp"
#include "kernels/elliptic.hpp"
#include "models/batch.hpp"
#include "pool/parallel_map.hpp"

namespace caldrith {
namespace {

constexpr double NAN_VALUE = std::numeric_limits<double>::quiet_NaN();

double point_source(double u) { return (u * u + 2.0) / (u * std::sqrt(u * u + 4.0)); }

// The lens on the limb, u = ρ exactly.
double on_limb(double rho) {
    const double q = rho * rho;
    return ((1.0 + q) / q * (std::asin((q - 1.0) / (1.0 + q)) + HALF_PI) + 2.0 / rho) / PI;
}

double general(double u, double rho) {
    const double d = u - rho;
    const double s = rho + u;
    const double q = rho * rho;
    const double n = (4.0 * rho * u) / (s * s);
    const double w = std::sqrt(d * d + 4.0);
    const double k = std::sqrt(4.0 * n) / w;
    const double m = k * k;

    const auto e = ellipe(m);
    if (!e) {
        return NAN_VALUE;
    }
    const auto big_k = ellipk(m);
    if (!big_k) {
        return NAN_VALUE;
    }
    const auto p = ellippi(n, m);
    if (!p) {
        return NAN_VALUE;
    }
    const double t_e = *e * ((w * s) / (2.0 * q));
    const double t_k = (d * ((u * u - q) * 0.5 + 4.0) / (w * q)) * *big_k;
    const double d2 = d * d;
    const double t_p = *p * (((d2 + d2) * (1.0 + q)) / (w * (q * s)));
    return (t_p + (t_e - t_k)) / PI;
}

// The three branches of the kernel; `window(ρ)` is the half-width of the band
// around the limb (|u − ρ| below it) in which the on-limb value is returned.
template <class Window>
double uniform_disk(double u, double rho, Window window) {
    if (rho <= 0.0) {
        return point_source(u);
    }
    if (window(rho) > std::fabs(u - rho)) {
        return on_limb(rho);
    }
    return general(u, rho);
}

}  // namespace

double witt_mao_magnification_scaled(double u, double rho) {
    // fmax ignores a NaN operand, so a NaN ρ gets the floor 1e-5.
    return uniform_disk(u, rho, [](double radius) { return std::fmax(0.001 * std::fabs(radius), 1e-5); });
}

double witt_mao_magnification_narrow(double u, double rho) {
    // No absolute floor: a NaN ρ fails the comparison and takes the general branch.
    return uniform_disk(u, rho, [](double radius) { return 1e-5 * std::fabs(radius); });
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
