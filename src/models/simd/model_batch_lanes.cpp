// The uniform-disk and thin-ring kernels of one vector path (compiled once
// per path): the general branch, with its elliptic integrals on their common
// path, lane by lane in the scalar kernels' operations and grouping
// (witt_mao.cpp, heyrovsky.cpp); the other branches (point source, near limb,
// near ring), the other elliptic-integral paths and every non-finite result
// by the scalar kernels.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "common/constants.hpp"
#include "kernels/simd/elliptic_lanes.hpp"
#include "models/batch.hpp"
#include "models/heyrovsky.hpp"
#include "models/witt_mao.hpp"

namespace caldrith::simd::CALDRITH_SIMD_PATH {
namespace {

namespace lanes = elliptic_lanes;

// Writes the lanes [0, count) of a block: `value` where `served` and finite,
// the scalar result `finish(lane)` elsewhere.
template <class Finish>
void write_block(double* result, std::size_t count, M served, V value, Finish&& finish) {
    const unsigned ok = bits(served & is_finite(value));
    for (std::size_t lane = 0; lane < count; ++lane) {
        result[lane] = (ok >> lane & 1u) != 0 ? value[lane] : finish(lane);
    }
}

V near_limb_window(V rho, NearLimbWindow window) {
    return window == NearLimbWindow::standard ? fmax(0.001 * abs(rho), splat(1e-5)) : 1e-5 * abs(rho);
}

// Elements per sorting round.
constexpr std::size_t CHUNK = 256;
// Sort keys: trunc(20 m) for served elements (0..19), NOT_SERVED for the rest.
constexpr unsigned KEYS = 21;
constexpr unsigned NOT_SERVED = KEYS - 1;

// The order in which a chunk's elements run through the lanes: by key, so
// that a vector holds elements of one polynomial interval, which also take
// about the same number of passes through the AGM and duplication loops and
// the same branches (the results do not depend on the order). Returns the
// number of served elements, which come first.
std::size_t order_by_key(const unsigned char* keys, std::size_t count, std::uint16_t* order) {
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

// The key of each lane: trunc(20 m) where served, NOT_SERVED elsewhere.
void store_keys(unsigned char* keys, std::size_t count, M served, V m) {
    const unsigned ok = bits(served);
    for (std::size_t lane = 0; lane < count; ++lane) {
        keys[lane] = (ok >> lane & 1u) != 0 ? static_cast<unsigned char>(m[lane] * 20.0) : NOT_SERVED;
    }
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

// The arguments of the uniform-disk kernel's general branch.
struct DiskArguments {
    double u;
    double rho;
    double n;
    double w;
    double m;
};

void uniform_disk(std::span<const double> u, std::span<const double> rho, NearLimbWindow window,
                  std::span<double> result) {
    const auto scalar =
        window == NearLimbWindow::standard ? witt_mao_magnification_scaled : witt_mao_magnification_narrow;
    const bool one_u = u.size() == 1;
    const bool one_rho = rho.size() == 1;
    std::array<DiskArguments, CHUNK> arguments;
    std::array<unsigned char, CHUNK> keys;
    std::array<std::uint16_t, CHUNK> order;
    for (std::size_t begin = 0; begin < result.size(); begin += CHUNK) {
        const std::size_t size = std::min(CHUNK, result.size() - begin);
        // The characteristic, the parameter and which elements the lanes serve.
        for (std::size_t i = 0; i < size; i += WIDTH) {
            const std::size_t count = std::min<std::size_t>(WIDTH, size - i);
            const V uv = one_u ? splat(u[0]) : load_first(&u[begin + i], count, 0.5);
            const V rhov = one_rho ? splat(rho[0]) : load_first(&rho[begin + i], count, 1.0);
            const V d = uv - rhov;
            const V s = rhov + uv;
            const V n = (4.0 * rhov * uv) / (s * s);
            const V w = sqrt(d * d + 4.0);
            const V k = sqrt(4.0 * n) / w;
            const V m = k * k;
            const M served = (rhov > 0.0) & ~(near_limb_window(rhov, window) > abs(uv - rhov)) &
                             lanes::ellippi_serves(n, m);
            store_keys(&keys[i], count, served, m);
            for (std::size_t lane = 0; lane < count; ++lane) {
                arguments[i + lane] = {uv[lane], rhov[lane], n[lane], w[lane], m[lane]};
            }
        }
        const std::size_t served = order_by_key(keys.data(), size, order.data());
        // The general branch on the served elements, in key order.
        for (std::size_t i = 0; i < served; i += WIDTH) {
            const std::size_t count = std::min<std::size_t>(WIDTH, served - i);
            const std::uint16_t* lanes_order = &order[i];
            const V uv = load_ordered(lanes_order, count, 0.5, [&](std::size_t j) { return arguments[j].u; });
            const V rhov = load_ordered(lanes_order, count, 1.0, [&](std::size_t j) { return arguments[j].rho; });
            const V n = load_ordered(lanes_order, count, 0.25, [&](std::size_t j) { return arguments[j].n; });
            const V w = load_ordered(lanes_order, count, 1.0, [&](std::size_t j) { return arguments[j].w; });
            const V m = load_ordered(lanes_order, count, 0.5, [&](std::size_t j) { return arguments[j].m; });
            const M in_use = first_lanes(count);
            const V d = uv - rhov;
            const V s = rhov + uv;
            const V q = rhov * rhov;
            const lanes::Legendre integrals = lanes::legendre<true>(n, m, in_use);
            const V t_e = integrals.e * ((w * s) / (2.0 * q));
            const V t_k = (d * ((uv * uv - q) * 0.5 + 4.0) / (w * q)) * integrals.k;
            const V d2 = d * d;
            const V t_p = integrals.pi * (((d2 + d2) * (1.0 + q)) / (w * (q * s)));
            const V value = (t_p + (t_e - t_k)) / PI;
            const unsigned finite = bits(is_finite(value));
            for (std::size_t lane = 0; lane < count; ++lane) {
                const std::size_t j = lanes_order[lane];
                result[begin + j] = (finite >> lane & 1u) != 0 ? value[lane] : scalar(arguments[j].u, arguments[j].rho);
            }
        }
        // The other branches, and the rest, by the scalar kernel.
        for (std::size_t i = served; i < size; ++i) {
            const std::size_t j = order[i];
            result[begin + j] = scalar(arguments[j].u, arguments[j].rho);
        }
    }
}

// The general branch of the thin-ring kernel at the ring radii r.
V thin_ring_general(double l, V r, double c, double c2, double near_ring_window, M& served) {
    const V g = r - l;
    const V s = l + r;
    const V q = c2 * 4.0 + g * g;
    const V k = sqrt((l * r) / q) * ((c * 4.0) / s);
    const V m = k * k;
    const V n = ((l * 4.0) * r) / (s * s);
    served = ~(abs(g) < near_ring_window) & lanes::ellippi_serves(n, m);
    if (!any(served)) {
        return splat(0.0);
    }
    const lanes::Legendre integrals = lanes::legendre<false>(n, m, served);
    const V big_k = integrals.k;
    const V p = integrals.pi;
    return ((c2 + c2) * big_k + (g * g) * p) * (4.0 / (s * sqrt(q))) / TWO_PI;
}

void thin_ring(double l, std::span<const double> r, double re, double rstar, double near_ring_window,
               std::span<double> result) {
    const double c = re / rstar;
    const double c2 = c * c;
    for (std::size_t i = 0; i < r.size(); i += WIDTH) {
        const std::size_t count = std::min<std::size_t>(WIDTH, r.size() - i);
        M served;
        const V value = thin_ring_general(l, load_first(&r[i], count, 0.5), c, c2, near_ring_window, served);
        write_block(&result[i], count, served, value, [&](std::size_t lane) {
            const Outcome<double> ring = heyrovsky_magnification_within(l, r[i + lane], re, rstar, near_ring_window);
            return ring ? *ring : std::numeric_limits<double>::quiet_NaN();
        });
    }
}

}  // namespace

extern const ModelBatch MODEL_BATCH{uniform_disk, thin_ring};

}  // namespace caldrith::simd::CALDRITH_SIMD_PATH
