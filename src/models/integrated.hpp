// Magnification of a star with a radial brightness profile I(t): a kernel
// integrated over the stellar radius t (0 at the centre, 1 at the limb),
// weighted by the profile and divided by the profile's total flux
// N = ∫₀¹ I(t) 2πt dt.
//
// Through the thin-ring kernel A(l, t) (the mean magnification of the ring of
// radius t):
//
//   μ(l) = (1/N) ∫₀¹ I(t) · 2πt · A(l, t) dt.
#pragma once

#include <cmath>
#include <span>
#include <vector>

#include "common/constants.hpp"
#include "kernels/double_exponential.hpp"
#include "models/batch.hpp"
#include "models/each_position.hpp"
#include "models/heyrovsky.hpp"
#include "models/witt_mao.hpp"

namespace caldrith {

// The linear limb-darkening law with coefficient 0.6, 1 at the centre:
// I(t) = 1 − 0.6 (1 − √(1 − t²)).
double limb_darkening_profile(double t);

// ∫₀¹ I(t) 2πt dt for that law, as the quadrature computes it (0.8π to 14
// digits); the normalisation of both limb-darkened functions.
inline constexpr double LIMB_DARKENING_NORM = 2.5132741228717936;

// The target absolute error of every integral over the star.
inline constexpr double INTEGRATION_TARGET = 1e-16;

// ∫₀¹ f(t) dt over the stellar radius for a lens `position` stellar radii
// from the centre. Inside the star (0 < l < 1) the ring through the lens
// makes ring magnifications logarithmically singular at t = l, so the
// integral is split there: the double-exponential rule handles an endpoint
// singularity, not an interior one. `batch` is an integrand evaluated a
// quadrature level at a time (double_exponential::integrate_batch).
template <class Batch>
double integrate_over_radius(Batch&& batch, double position) {
    if (position > 0.0 && position < 1.0) {
        return double_exponential::integrate_batch(batch, 0.0, position, INTEGRATION_TARGET) +
               double_exponential::integrate_batch(batch, position, 1.0, INTEGRATION_TARGET);
    }
    return double_exponential::integrate_batch(batch, 0.0, 1.0, INTEGRATION_TARGET);
}

// f(position, disk) for each position of `l` (stellar radii), disk being the
// uniform-disk magnification of the star at that position (ρ = rstar / re);
// where that is NaN (a negative, NaN or infinite position, a NaN or infinite
// ρ) the result is NaN and f is not called. The integrals would otherwise
// count their NaN integrand values as 0 and return a number.
template <class F>
std::vector<double> each_defined_position(std::span<const double> l, double rho, F&& f) {
    return each_position(l, [&](double position) {
        const double disk = witt_mao_magnification_scaled(position * rho, rho);
        return std::isnan(disk) ? disk : f(position, disk);
    });
}

// Beyond this distance (stellar radii) every profile-weighted mean equals
// the point-lens magnification to the last bit: the profile's share is
// (1/l)² relative. The profile integrals take the uniform disk's value there
// rather than integrate the thin ring to the same result.
inline constexpr double THIN_RING_FAR_LIMIT = 1e150;

// The relative near-ring window of the thin-ring kernel inside the profile
// integrals: the expansion is taken where |t − l| < 1e-5 |l|.
inline constexpr double RELATIVE_NEAR_RING_WINDOW = 1e-5;

// The profile-weighted thin-ring magnification for each position of `l`
// (stellar radii), divided by `norm`. A thin-ring error makes its integrand
// value NaN, which the quadrature counts as 0; a position where the uniform
// disk is NaN gives NaN, and one beyond THIN_RING_FAR_LIMIT the uniform
// disk's value.
template <class Profile>
std::vector<double> _integrated_heyrovsky_magnification(std::span<const double> l, const Profile& profile,
                                                        double re, double rstar, double norm) {
    return each_defined_position(l, rstar / re, [&](double position, double disk) {
        if (position > THIN_RING_FAR_LIMIT) {
            return disk;
        }
        const double near_ring_window = RELATIVE_NEAR_RING_WINDOW * std::fabs(position);
        // I(t) (2πt) A(l, t) at a level's nodes at once; a thin-ring error is NaN.
        auto integrand = [&](std::span<const double> t, std::span<double> values) {
            model_batch().thin_ring(position, t, re, rstar, near_ring_window, values);
            for (std::size_t i = 0; i < t.size(); ++i) {
                values[i] = profile(t[i]) * ((TWO_PI * t[i]) * values[i]);
            }
        };
        return integrate_over_radius(integrand, position) / norm;
    });
}

// The limb-darkened magnification through the uniform-disk kernel, for each
// position of `l` (stellar radii).
std::vector<double> integrated_witt_mao_magnification(std::span<const double> l, double re, double rstar);

// The limb-darkened magnification through the thin-ring kernel.
std::vector<double> integrated_heyrovsky_magnification(std::span<const double> l, double re, double rstar);

}  // namespace caldrith
