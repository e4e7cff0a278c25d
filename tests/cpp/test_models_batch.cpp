// The batch uniform-disk and thin-ring kernels against the scalar kernels,
// bit for bit, on every vector path this machine runs: a million arguments
// per kernel, window and path, random over every branch plus the edge cases
// (NaN, infinities, signed zeros, subnormals, non-positive radii, positions
// at and next to the near-limb and near-ring windows).
#include <doctest/doctest.h>

#include <cmath>
#include <random>
#include <vector>

#include "batch_inputs.hpp"
#include "models/batch.hpp"
#include "models/heyrovsky.hpp"
#include "models/witt_mao.hpp"

using caldrith::ModelBatch;
using caldrith::NearLimbWindow;
using caldrith::SimdPath;
using batch_inputs::hex;
using batch_inputs::INF;

namespace {

constexpr std::size_t COUNT = 1'000'000;

// Feeds `values` to `run` in batches of every length up to 18 and of 4096, so
// that partial blocks meet every lane position.
template <class Run>
void in_batches(std::size_t total, Run&& run) {
    std::size_t offset = 0;
    for (std::size_t length = 1; offset < total; length = length % 19 + 1) {
        const std::size_t take = std::min(length == 19 ? std::size_t{4096} : length, total - offset);
        run(offset, take);
        offset += take;
    }
}

long first_difference(const std::vector<double>& a, const std::vector<double>& b) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (hex(a[i]) != hex(b[i])) return static_cast<long>(i);
    }
    return -1;
}

// A radius of the star in Einstein radii, or an edge case.
double radius(std::mt19937_64& random, const std::vector<double>& specials) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    if (random() % 16 == 0) return specials[random() % specials.size()];
    return std::pow(10.0, 9.0 * unit(random) - 6.0);
}

// Separations for the radii: across the star and beyond, on the limb, at the
// window's edge and next to it, and the edge cases.
std::vector<double> separations(const std::vector<double>& rho, NearLimbWindow window, std::mt19937_64& random,
                                const std::vector<double>& specials) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> u(rho.size());
    for (std::size_t i = 0; i < rho.size(); ++i) {
        const double width = window == NearLimbWindow::standard ? std::fmax(0.001 * std::fabs(rho[i]), 1e-5)
                                                                : 1e-5 * std::fabs(rho[i]);
        switch (random() % 12) {
            case 0: u[i] = specials[random() % specials.size()]; break;
            case 1: u[i] = rho[i]; break;
            case 2: u[i] = rho[i] + (random() % 2 ? width : -width); break;
            case 3: u[i] = std::nextafter(rho[i] + (random() % 2 ? width : -width), random() % 2 ? INF : -INF); break;
            case 4: u[i] = rho[i] * (1.0 + (unit(random) - 0.5) * 1e-4); break;
            case 5: u[i] = -rho[i] * unit(random); break;
            default: u[i] = rho[i] * 3.0 * unit(random); break;
        }
    }
    return u;
}

}  // namespace

TEST_CASE("the batch uniform-disk kernel equals the scalar kernel bit for bit on every path") {
    const std::vector<double> specials = batch_inputs::special_values();
    for (const NearLimbWindow window : {NearLimbWindow::standard, NearLimbWindow::narrow}) {
        CAPTURE(window == NearLimbWindow::standard ? "standard window" : "narrow window");
        std::mt19937_64 random(window == NearLimbWindow::standard ? 21 : 22);
        std::vector<double> rho(COUNT);
        for (double& value : rho) value = radius(random, specials);
        const std::vector<double> u = separations(rho, window, random, specials);
        const auto kernel = window == NearLimbWindow::standard ? caldrith::witt_mao_magnification_scaled
                                                               : caldrith::witt_mao_magnification_narrow;
        std::vector<double> scalar(COUNT);
        for (std::size_t i = 0; i < COUNT; ++i) scalar[i] = kernel(u[i], rho[i]);
        for (const SimdPath path : caldrith::runnable_simd_paths()) {
            CAPTURE(caldrith::simd_path_name(path));
            const ModelBatch& batch = caldrith::model_batch(path);
            std::vector<double> result(COUNT);
            in_batches(COUNT, [&](std::size_t offset, std::size_t take) {
                batch.uniform_disk({u.data() + offset, take}, {rho.data() + offset, take}, window,
                                   {result.data() + offset, take});
            });
            const long at = first_difference(result, scalar);
            if (at >= 0) {
                CAPTURE(hex(u[at]));
                CAPTURE(hex(rho[at]));
                CHECK(hex(result[at]) == hex(scalar[at]));
            }
            CHECK(at == -1);
            // One radius for the whole batch, as the list function passes it,
            // and one separation, as the limb-darkened integral does.
            const std::vector<double> one_rho{rho[7]};
            const std::vector<double> one_u{u[7]};
            std::vector<double> shared_rho(4099);
            std::vector<double> shared_u(4099);
            batch.uniform_disk({u.data(), shared_rho.size()}, one_rho, window, shared_rho);
            batch.uniform_disk(one_u, {rho.data(), shared_u.size()}, window, shared_u);
            for (std::size_t i = 0; i < shared_rho.size(); ++i) {
                REQUIRE(hex(shared_rho[i]) == hex(kernel(u[i], one_rho[0])));
                REQUIRE(hex(shared_u[i]) == hex(kernel(one_u[0], rho[i])));
            }
        }
    }
}

TEST_CASE("the batch thin-ring kernel equals the scalar kernel bit for bit on every path") {
    const std::vector<double> specials = batch_inputs::special_values();
    std::mt19937_64 random(31);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // Positions, each with its own star and window, and a batch of ring radii.
    constexpr std::size_t POSITIONS = 2000;
    constexpr std::size_t RINGS = COUNT / POSITIONS;
    std::size_t differences = 0;
    for (std::size_t position = 0; position < POSITIONS; ++position) {
        const double l = random() % 10 == 0 ? specials[random() % specials.size()] : 3.0 * unit(random);
        // One star in 20 a special value, one in 20 an Einstein radius of 2^500 to 2^511 stellar
        // radii, which the scalar kernel scales.
        const double re = random() % 20 == 0   ? specials[random() % specials.size()]
                          : random() % 20 == 0 ? std::ldexp(1.0 + unit(random), 500 + static_cast<int>(random() % 11))
                                               : std::pow(10.0, 4.0 * unit(random) - 2.0);
        const double rstar = random() % 20 == 0 ? specials[random() % specials.size()] : 1.0;
        const double window = random() % 2 ? caldrith::NEAR_RING_WINDOW : 1e-5 * std::fabs(l);
        std::vector<double> r(RINGS);
        for (double& ring : r) {
            switch (random() % 10) {
                case 0: ring = specials[random() % specials.size()]; break;
                case 1: ring = l + (random() % 2 ? window : -window); break;
                case 2: ring = std::nextafter(l + (random() % 2 ? window : -window), random() % 2 ? INF : -INF); break;
                case 3: ring = l; break;
                case 4: ring = l + (unit(random) - 0.5) * 1e-3; break;
                default: ring = unit(random); break;
            }
        }
        std::vector<double> scalar(RINGS);
        for (std::size_t i = 0; i < RINGS; ++i) {
            const auto outcome = caldrith::heyrovsky_magnification_within(l, r[i], re, rstar, window);
            scalar[i] = outcome ? *outcome : std::nan("");
        }
        for (const SimdPath path : caldrith::runnable_simd_paths()) {
            std::vector<double> result(RINGS);
            in_batches(RINGS, [&](std::size_t offset, std::size_t take) {
                caldrith::model_batch(path).thin_ring(l, {r.data() + offset, take}, re, rstar, window,
                                                      {result.data() + offset, take});
            });
            const long at = first_difference(result, scalar);
            if (at >= 0 && differences++ == 0) {
                CAPTURE(caldrith::simd_path_name(path));
                CAPTURE(hex(l));
                CAPTURE(hex(r[at]));
                CAPTURE(hex(re));
                CAPTURE(hex(rstar));
                CHECK(hex(result[at]) == hex(scalar[at]));
            }
        }
    }
    CHECK(differences == 0);
}
