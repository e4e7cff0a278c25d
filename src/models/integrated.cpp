// The limb-darkened magnification, I(t) = 1 − 0.6 (1 − μ) with μ = √(1 − t²),
// through two independent kernels.
//
// Through the uniform-disk kernel A_u(ρ') (the magnification of a uniform
// disk of radius ρ'): write I as a uniform share 0.4 plus a share 0.6 μ;
// integrating the μ-weighted flux by parts over nested disks gives
//
//   μ(l) = π (0.6 J + 0.4 A_u(ρ)) / N,   J = ∫₀¹ μ² A_u(ρ μ) dt,
//
// with N the profile's total flux. Through the thin-ring kernel: the
// profile-weighted ring integral of integrated.hpp.
#include "models/integrated.hpp"

#include <array>
#include <cmath>

#include "models/batch.hpp"
#include "models/witt_mao.hpp"

namespace caldrith {

double limb_darkening_profile(double t) { return (1.0 - std::sqrt(1.0 - t * t)) * (-0.6) + 1.0; }

std::vector<double> integrated_witt_mao_magnification(std::span<const double> l, double re, double rstar) {
    const double rho = rstar / re;
    return each_position(l, [rho](double position) {
        const double u = position * rho;
        // (μ μ) A_u(ρ μ), μ = √(1 − t²), at a level's nodes at once.
        auto nested_disks = [u, rho](std::span<const double> t, std::span<double> values) {
            std::array<double, double_exponential::MOST_POINTS> mu;
            std::array<double, double_exponential::MOST_POINTS> radii;
            for (std::size_t i = 0; i < t.size(); ++i) {
                mu[i] = std::sqrt(1.0 - t[i] * t[i]);
                radii[i] = rho * mu[i];
            }
            model_batch().uniform_disk({&u, 1}, {radii.data(), t.size()}, NearLimbWindow::standard, values);
            for (std::size_t i = 0; i < t.size(); ++i) {
                values[i] = (mu[i] * mu[i]) * values[i];
            }
        };
        const double j = double_exponential::integrate_batch(nested_disks, 0.0, 1.0, INTEGRATION_TARGET);
        const double whole_disk = witt_mao_magnification_scaled(u, rho);
        return ((j * 0.6 + whole_disk * 0.4) * PI) / LIMB_DARKENING_NORM;
    });
}

std::vector<double> integrated_heyrovsky_magnification(std::span<const double> l, double re, double rstar) {
    return _integrated_heyrovsky_magnification(l, limb_darkening_profile, re, rstar, LIMB_DARKENING_NORM);
}

}  // namespace caldrith
