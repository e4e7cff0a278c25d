// The uniform-disk and thin-ring kernels of one vector path (compiled once
// per path): the general branch, with its elliptic integrals on their common
// path, lane by lane in the scalar kernels' operations and grouping
// (witt_mao.cpp, heyrovsky.cpp); the other branches (point source, near limb,
// near ring), the other elliptic-integral paths and every non-finite result
// by the scalar kernels.
#include <algorithm>
#include <cstddef>
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

// The general branch of the uniform-disk kernel; `served` tells the lanes it
// computed.
V uniform_disk_general(V u, V rho, NearLimbWindow window, M& served) {
    const V d = u - rho;
    const V s = rho + u;
    const V q = rho * rho;
    const V n = (4.0 * rho * u) / (s * s);
    const V w = sqrt(d * d + 4.0);
    const V k = sqrt(4.0 * n) / w;
    const V m = k * k;
    served = (rho > 0.0) & ~(near_limb_window(rho, window) > abs(u - rho)) & lanes::ellippi_serves(n, m);
    if (!any(served)) {
        return splat(0.0);
    }
    const lanes::Legendre integrals = lanes::legendre<true>(n, m, served);
    const V e = integrals.e;
    const V big_k = integrals.k;
    const V p = integrals.pi;
    const V t_e = e * ((w * s) / (2.0 * q));
    const V t_k = (d * ((u * u - q) * 0.5 + 4.0) / (w * q)) * big_k;
    const V d2 = d * d;
    const V t_p = p * (((d2 + d2) * (1.0 + q)) / (w * (q * s)));
    return (t_p + (t_e - t_k)) / PI;
}

void uniform_disk(std::span<const double> u, std::span<const double> rho, NearLimbWindow window,
                  std::span<double> result) {
    const auto scalar =
        window == NearLimbWindow::standard ? witt_mao_magnification_scaled : witt_mao_magnification_narrow;
    const bool one_u = u.size() == 1;
    const bool one_rho = rho.size() == 1;
    for (std::size_t i = 0; i < result.size(); i += WIDTH) {
        const std::size_t count = std::min<std::size_t>(WIDTH, result.size() - i);
        const V uv = one_u ? splat(u[0]) : load_first(&u[i], count, 0.5);
        const V rhov = one_rho ? splat(rho[0]) : load_first(&rho[i], count, 1.0);
        M served;
        const V value = uniform_disk_general(uv, rhov, window, served);
        write_block(&result[i], count, served, value, [&](std::size_t lane) {
            return scalar(u[one_u ? 0 : i + lane], rho[one_rho ? 0 : i + lane]);
        });
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
