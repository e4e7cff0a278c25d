// Magnification of a star whose radial profile is given by samples (bl, bf),
// joined by piecewise-linear interpolation into I(t), 0 outside the samples.
//
// Discrete: every sample is a thin ring of weight bf[j],
//   μ(l) = Σ_j bf[j] A_ring(l, bl[j]).
// Integrated with the uniform-disk kernel: the ring at t takes the mean
// magnification of the annulus [t − h, t + h] (h = 1e-4, clipped to [0, 1]),
// the difference of two concentric uniform disks weighted by their areas,
//   B(t) = (A_u(t₊) t₊² − A_u(t₋) t₋²) / (t₊² − t₋²),
//   μ(l) = (1/N) ∫₀¹ I(t) 2πt B(t) dt,
// split at t = l inside the star. The disks take the uniform-disk kernel
// with its narrow near-limb window (1e-5 of their radius): the wide one would
// give every disk whose limb lies within 0.1% of the lens the on-limb value,
// and the differences of such disks would flatten the rings near t = l.
// Integrated with the thin-ring kernel: see integrated.hpp. N = ∫₀¹ I(t) 2πt dt
// in both; a profile without flux gives NaN or an infinity, unchecked.
#include "models/flux_map.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "common/fault.hpp"
#include "common/interruption.hpp"
#include "kernels/interp.hpp"
#include "models/batch.hpp"
#include "models/each_position.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/witt_mao.hpp"

namespace caldrith {
namespace {

constexpr double ANNULUS_HALF_WIDTH = 1e-4;
constexpr std::size_t RINGS_PER_CHECK = 256;

// Per-node values of one quadrature level.
using Points = std::array<double, double_exponential::MOST_POINTS>;

// Rings per batch of the discrete flux map.
constexpr std::size_t RING_BLOCK = 256;

// The sampled profile, 0 outside the samples, and its total flux. The
// samples must pair up: unequal lengths are an internal fault.
class SampledProfile {
public:
    SampledProfile(std::span<const double> bl, std::span<const double> bf) : interpolant_(bl, bf) {
        assert_equal_counts(bl.size(), bf.size());
    }

    double operator()(double t) const { return interpolant_(t, 0.0); }

    double total_flux() const {
        return double_exponential::integrate([this](double t) { return (*this)(t) * (TWO_PI * t); }, 0.0, 1.0,
                                             INTEGRATION_TARGET);
    }

private:
    PiecewiseLinear interpolant_;
};

}  // namespace

Outcome<std::vector<double>> discrete_flux_map_heyrovsky_magnification(std::span<const double> l, double re,
                                                                       double rstar, std::span<const double> bl,
                                                                       std::span<const double> bf) {
    assert_equal_counts(bl.size(), bf.size());
    std::vector<double> result;
    result.reserve(l.size());
    const ModelBatch& batch = model_batch();
    std::array<double, RING_BLOCK> rings;
    // A position costs one thin ring per sample, a fraction of a microsecond
    // each: the caller is asked once per RINGS_PER_CHECK rings or so.
    const std::size_t positions_per_check = std::max<std::size_t>(1, RINGS_PER_CHECK / (bl.size() + 1));
    std::size_t until_check = 0;
    for (const double position : l) {
        if (until_check == 0) {
            throw_if_interrupted();
            until_check = positions_per_check;
        }
        --until_check;
        double sum = 0.0;
        for (std::size_t begin = 0; begin < bl.size(); begin += RING_BLOCK) {
            const std::size_t count = std::min(RING_BLOCK, bl.size() - begin);
            batch.thin_ring(position, bl.subspan(begin, count), re, rstar, NEAR_RING_WINDOW, {rings.data(), count});
            for (std::size_t j = 0; j < count; ++j) {
                double ring = rings[j];
                // NaN stands for a value or an error: the scalar kernel tells which.
                if (std::isnan(ring)) {
                    const Outcome<double> outcome = heyrovsky_magnification(position, bl[begin + j], re, rstar);
                    if (!outcome) {
                        return Unexpected{outcome.error()};
                    }
                    ring = *outcome;
                }
                sum = sum + (ring * bf[begin + j]);
            }
        }
        result.push_back(sum);
    }
    return result;
}

std::vector<double> integrated_flux_map_witt_mao_magnification(std::span<const double> l, double re,
                                                               double rstar, std::span<const double> bl,
                                                               std::span<const double> bf) {
    const SampledProfile profile(bl, bf);
    const double flux = profile.total_flux();
    const double rho = rstar / re;
    return each_defined_position(l, rho, [&](double position, double /*disk*/) {
        const double u = position * rho;
        // The annuli about the nodes t of a level, each as the difference of
        // two disks, the disks evaluated in two batches.
        auto annuli = [&](std::span<const double> t, std::span<double> values) {
            const std::size_t count = t.size();
            Points inner;
            Points outer;
            Points inner_radius;
            Points outer_radius;
            Points inner_magnification;
            Points outer_magnification;
            for (std::size_t i = 0; i < count; ++i) {
                inner[i] = std::fmax(t[i] + (-ANNULUS_HALF_WIDTH), 0.0);
                outer[i] = std::fmin(t[i] + ANNULUS_HALF_WIDTH, 1.0);
                inner_radius[i] = inner[i] * rho;
                outer_radius[i] = outer[i] * rho;
            }
            const ModelBatch& batch = model_batch();
            batch.uniform_disk({&u, 1}, {inner_radius.data(), count}, NearLimbWindow::narrow,
                               {inner_magnification.data(), count});
            batch.uniform_disk({&u, 1}, {outer_radius.data(), count}, NearLimbWindow::narrow,
                               {outer_magnification.data(), count});
            for (std::size_t i = 0; i < count; ++i) {
                const double inner_area = inner[i] * inner[i];
                const double outer_area = outer[i] * outer[i];
                // An annulus reaching the centre has no inner disk.
                const double inner_flux = inner_area == 0.0 ? 0.0 : inner_magnification[i] * inner_area;
                const double ring = (outer_magnification[i] * outer_area - inner_flux) / (outer_area - inner_area);
                values[i] = profile(t[i]) * ((TWO_PI * t[i]) * ring);
            }
        };
        return integrate_over_radius(annuli, position) / flux;
    });
}

std::vector<double> integrated_flux_map_heyrovsky_magnification(std::span<const double> l, double re,
                                                                double rstar, std::span<const double> bl,
                                                                std::span<const double> bf) {
    const SampledProfile profile(bl, bf);
    return _integrated_heyrovsky_magnification(l, profile, re, rstar, profile.total_flux());
}

}  // namespace caldrith
