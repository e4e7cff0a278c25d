// The uniform-disk and thin-ring kernels of one vector path (compiled once
// per path): the general branch, with its elliptic integrals on their common
// path, lane by lane in the scalar kernels' operations and grouping
// (witt_mao.cpp, heyrovsky.cpp); the other branches (point source, near limb,
// near ring, far field, small source, lengths the thin ring scales), the
// other elliptic-integral paths and every non-finite result by the scalar
// kernels.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "common/constants.hpp"
#include "common/interruption.hpp"
#include "kernels/simd/elliptic_lanes.hpp"
#include "models/batch.hpp"
#include "models/far_field.hpp"
#include "models/heyrovsky.hpp"
#include "models/small_source.hpp"
#include "models/witt_mao.hpp"

namespace caldrith::simd::CALDRITH_SIMD_PATH {
namespace {

namespace lanes = elliptic_lanes;

// Elements per sorting round; a long batch asks its thread's interruption
// check between two rounds (the quadrature of a law sampled at thousands of
// radii hands the thin ring that many nodes at once).
constexpr std::size_t CHUNK = 1024;
// Sort keys: trunc(80 m) for served elements (0..79, quarters of the
// polynomial intervals), NOT_SERVED for the rest.
constexpr unsigned KEYS = 81;
constexpr unsigned NOT_SERVED = KEYS - 1;

// The order in which a chunk's elements run through the lanes: by key, so
// that a vector holds elements of one polynomial interval, which also take
// about the same number of passes through the AGM and duplication loops (the
// results do not depend on the order). Returns the number of served
// elements, which come first. A chunk of one vector needs no sorting: its
// served elements just come first.
std::size_t order_by_key(const unsigned char* keys, std::size_t count, std::uint16_t* order) {
    if (count <= static_cast<std::size_t>(WIDTH)) {
        std::size_t served = 0;
        for (std::size_t i = 0; i < count; ++i) {
            served += keys[i] != NOT_SERVED ? 1 : 0;
        }
        std::size_t first = 0;
        std::size_t rest = served;
        for (std::size_t i = 0; i < count; ++i) {
            order[keys[i] != NOT_SERVED ? first++ : rest++] = static_cast<std::uint16_t>(i);
        }
        return served;
    }
    std::array<std::uint16_t, KEYS + 1> start{};
    for (std::size_t i = 0; i < count; ++i) {
        ++start[keys[i] + 1];
    }
    for (unsigned key = 1; key <= KEYS; ++key) {
        start[key] += start[key - 1];
    }
    const std::size_t served = start[NOT_SERVED];
    for (std::size_t i = 0; i < count; ++i) {
        order[start[keys[i]]++] = static_cast<std::uint16_t>(i);
    }
    return served;
}

// Lane i from field(order[i]) for the first `count` lanes, `fill` elsewhere.
template <class Field>
V load_ordered(const std::uint16_t* order, std::size_t count, double fill, Field&& field) {
    V v = splat(fill);
    for (std::size_t lane = 0; lane < count; ++lane) {
        v[lane] = field(order[lane]);
    }
    return v;
}

// The first `count` lanes.
M first_lanes(std::size_t count) {
    M mask = M{};
    for (std::size_t lane = 0; lane < count; ++lane) {
        mask[lane] = -1;
    }
    return mask;
}

// The arguments of a kernel's general branch, element by element.
struct Arguments {
    double x;  // the element's own input (u, or the ring radius)
    double y;  // ρ (uniform disk)
    double n;  // the characteristic
    double w;  // √((u − ρ)² + 4) (uniform disk)
    double m;  // the parameter
};

// A kernel over `size` elements, CHUNK at a time:
//   prepare(i, count, arguments): the arguments of elements i.. of the chunk
//       (a block of lanes) and the mask of those the general branch serves;
//   general(arguments in lanes, the lanes in use): the general branch;
//   scalar(element): the scalar kernel.
// Served elements run through the lanes in key order; results that are not
// finite, and the elements not served, come from the scalar kernel.
template <class Prepare, class General, class Scalar>
void run_sorted(std::size_t size, double* result, Prepare&& prepare, General&& general, Scalar&& scalar) {
    std::array<Arguments, CHUNK> arguments;
    std::array<unsigned char, CHUNK> keys;
    std::array<std::uint16_t, CHUNK> order;
    in_interruptible_blocks(size, CHUNK, [&](std::size_t begin, std::size_t end) __attribute__((always_inline)) {
        const std::size_t length = end - begin;
        for (std::size_t i = 0; i < length; i += WIDTH) {
            const std::size_t count = std::min<std::size_t>(WIDTH, length - i);
            const M served = prepare(begin + i, count, &arguments[i]);
            const unsigned ok = bits(served);
            for (std::size_t lane = 0; lane < count; ++lane) {
                // Served means 0 < m < 1.
                keys[i + lane] = (ok >> lane & 1u) != 0
                                     ? static_cast<unsigned char>(std::min(arguments[i + lane].m * 80.0, 79.0))
                                     : NOT_SERVED;
            }
        }
        const std::size_t served = order_by_key(keys.data(), length, order.data());
        for (std::size_t i = 0; i < served; i += WIDTH) {
            const std::size_t count = std::min<std::size_t>(WIDTH, served - i);
            const std::uint16_t* lanes_order = &order[i];
            const V value = general(lanes_order, count, arguments.data());
            const unsigned finite = bits(is_finite(value));
            for (std::size_t lane = 0; lane < count; ++lane) {
                const std::size_t j = begin + lanes_order[lane];
                result[j] = (finite >> lane & 1u) != 0 ? value[lane] : scalar(j);
            }
        }
        for (std::size_t i = served; i < length; ++i) {
            const std::size_t j = begin + order[i];
            result[j] = scalar(j);
        }
    });
}

V near_limb_window(V rho, NearLimbWindow window) {
    return window == NearLimbWindow::standard ? fmax(0.001 * abs(rho), splat(1e-5)) : 1e-5 * abs(rho);
}

// The uniform-disk kernel, its general branch in the operations of
// witt_mao.cpp.
void uniform_disk(std::span<const double> u, std::span<const double> rho, NearLimbWindow window,
                  std::span<double> result) {
    const auto scalar =
        window == NearLimbWindow::standard ? witt_mao_magnification_scaled : witt_mao_magnification_narrow;
    const bool one_u = u.size() == 1;
    const bool one_rho = rho.size() == 1;
    const auto u_at = [&](std::size_t i) { return u[one_u ? 0 : i]; };
    const auto rho_at = [&](std::size_t i) { return rho[one_rho ? 0 : i]; };
    auto prepare = [&](std::size_t i, std::size_t count, Arguments* arguments) {
        const V uv = one_u ? splat(u[0]) : load_first(&u[i], count, 0.5);
        const V rhov = one_rho ? splat(rho[0]) : load_first(&rho[i], count, 1.0);
        const V d = uv - rhov;
        const V s = rhov + uv;
        const V n = (4.0 * rhov * uv) / (s * s);
        const V w = sqrt(d * d + 4.0);
        const V k = sqrt(4.0 * n) / w;
        const V m = k * k;
        for (std::size_t lane = 0; lane < count; ++lane) {
            arguments[lane] = {uv[lane], rhov[lane], n[lane], w[lane], m[lane]};
        }
        // The small-source forms and the far-field series are the scalar kernel's.
        const M far = (uv > FAR_FIELD_POSITION * rhov) & (uv < splat(std::numeric_limits<double>::infinity()));
        return (rhov >= SMALL_SOURCE_RADIUS) & ~far & ~(near_limb_window(rhov, window) > abs(uv - rhov)) &
               lanes::ellippi_serves(n, m);
    };
    auto general = [](const std::uint16_t* order, std::size_t count, const Arguments* arguments) {
        const V uv = load_ordered(order, count, 0.5, [&](std::size_t j) { return arguments[j].x; });
        const V rhov = load_ordered(order, count, 1.0, [&](std::size_t j) { return arguments[j].y; });
        const V n = load_ordered(order, count, 0.25, [&](std::size_t j) { return arguments[j].n; });
        const V w = load_ordered(order, count, 1.0, [&](std::size_t j) { return arguments[j].w; });
        const V m = load_ordered(order, count, 0.5, [&](std::size_t j) { return arguments[j].m; });
        const V d = uv - rhov;
        const V s = rhov + uv;
        const V q = rhov * rhov;
        const lanes::Legendre integrals = lanes::legendre<true>(n, m, first_lanes(count));
        const V t_e = integrals.e * ((w * s) / (2.0 * q));
        const V t_k = (d * ((uv * uv - q) * 0.5 + 4.0) / (w * q)) * integrals.k;
        const V d2 = d * d;
        const V t_p = integrals.pi * (((d2 + d2) * (1.0 + q)) / (w * (q * s)));
        return (t_p + (t_e - t_k)) / PI;
    };
    run_sorted(result.size(), result.data(), prepare, general,
               [&](std::size_t i) { return scalar(u_at(i), rho_at(i)); });
}

// The thin-ring kernel at the ring radii r, its general branch in the
// operations of heyrovsky.cpp. Lengths the scalar kernel scales (beyond
// LARGE_RING_LENGTH) are left to it.
void thin_ring(double l, std::span<const double> r, double re, double rstar, double near_ring_window,
               std::span<double> result) {
    const double c = re / rstar;
    const double c2 = c * c;
    const M star_unscaled = std::fabs(l) <= LARGE_RING_LENGTH && std::fabs(c) <= LARGE_RING_LENGTH ? ~M{} : M{};
    auto prepare = [&](std::size_t i, std::size_t count, Arguments* arguments) {
        const V rv = load_first(&r[i], count, 0.5);
        const V g = rv - l;
        const V s = l + rv;
        const V q = c2 * 4.0 + g * g;
        const V k = sqrt((l * rv) / q) * ((c * 4.0) / s);
        const V m = k * k;
        const V n = ((l * 4.0) * rv) / (s * s);
        for (std::size_t lane = 0; lane < count; ++lane) {
            arguments[lane] = {rv[lane], 0.0, n[lane], 0.0, m[lane]};
        }
        return star_unscaled & (abs(rv) <= LARGE_RING_LENGTH) & ~(abs(g) < near_ring_window) &
               lanes::ellippi_serves(n, m);
    };
    auto general = [&](const std::uint16_t* order, std::size_t count, const Arguments* arguments) {
        const V rv = load_ordered(order, count, 0.5, [&](std::size_t j) { return arguments[j].x; });
        const V n = load_ordered(order, count, 0.25, [&](std::size_t j) { return arguments[j].n; });
        const V m = load_ordered(order, count, 0.5, [&](std::size_t j) { return arguments[j].m; });
        const V g = rv - l;
        const V s = l + rv;
        const V q = c2 * 4.0 + g * g;
        const lanes::Legendre integrals = lanes::legendre<false>(n, m, first_lanes(count));
        return ((c2 + c2) * integrals.k + (g * g) * integrals.pi) * (4.0 / (s * sqrt(q))) / TWO_PI;
    };
    run_sorted(result.size(), result.data(), prepare, general, [&](std::size_t i) {
        const Outcome<double> ring = heyrovsky_magnification_within(l, r[i], re, rstar, near_ring_window);
        return ring ? *ring : std::numeric_limits<double>::quiet_NaN();
    });
}

}  // namespace

extern const ModelBatch MODEL_BATCH{uniform_disk, thin_ring};

}  // namespace caldrith::simd::CALDRITH_SIMD_PATH
