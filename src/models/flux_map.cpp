// Magnification of a star whose radial profile is given by samples (bl, bf),
// joined by piecewise-linear interpolation into I(t), 0 outside the samples.
//
// Discrete: every sample is a thin ring of weight bf[j],
//   μ(l) = Σ_j bf[j] A_ring(l, bl[j]).
// Integrated with the uniform-disk kernel: the ring at t takes the mean
// magnification of the annulus [t − h, t + h] (h = 1e-4, clipped to [0, 1]),
// the difference of two concentric uniform disks weighted by their areas,
//   B(t) = (A_u(t₊) t₊² − A_u(t₋) t₋²) / (t₊² − t₋²),
//   μ(l) = (1/N) ∫₀¹ I(t) 2πt B(t) dt.
// Integrated with the thin-ring kernel: see integrated.hpp. N = ∫₀¹ I(t) 2πt dt
// in both; a profile without flux gives NaN or an infinity, unchecked.
#include "models/flux_map.hpp"

#include <algorithm>
#include <cmath>

#include "common/fault.hpp"
#include "common/interruption.hpp"
#include "kernels/interp.hpp"
#include "models/each_position.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/witt_mao.hpp"

namespace caldrith {
namespace {

constexpr double ANNULUS_HALF_WIDTH = 1e-4;
constexpr std::size_t RINGS_PER_CHECK = 256;

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
        for (std::size_t j = 0; j < bl.size(); ++j) {
            const Outcome<double> ring = heyrovsky_magnification(position, bl[j], re, rstar);
            if (!ring) {
                return Unexpected{ring.error()};
            }
            sum = sum + (*ring * bf[j]);
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
    return each_position(l, [&](double position) {
        const double u = position * rho;
        auto annuli = [&](double t) {
            const double inner = std::fmax(t + (-ANNULUS_HALF_WIDTH), 0.0);
            const double outer = std::fmin(t + ANNULUS_HALF_WIDTH, 1.0);
            const double inner_area = inner * inner;
            const double outer_area = outer * outer;
            // An annulus reaching the centre has no inner disk.
            const double inner_flux =
                inner_area == 0.0 ? 0.0 : witt_mao_magnification_scaled(u, inner * rho) * inner_area;
            const double outer_magnification = witt_mao_magnification_scaled(u, outer * rho);
            const double ring = (outer_magnification * outer_area - inner_flux) / (outer_area - inner_area);
            return profile(t) * ((TWO_PI * t) * ring);
        };
        return double_exponential::integrate(annuli, 0.0, 1.0, INTEGRATION_TARGET) / flux;
    });
}

std::vector<double> integrated_flux_map_heyrovsky_magnification(std::span<const double> l, double re,
                                                                double rstar, std::span<const double> bl,
                                                                std::span<const double> bf) {
    const SampledProfile profile(bl, bf);
    return _integrated_heyrovsky_magnification(l, profile, re, rstar, profile.total_flux());
}

}  // namespace caldrith
