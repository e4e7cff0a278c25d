// The magnification of a star with any radial brightness law I (see
// limb_darkening_law.hpp) by a point lens, the star of radius ρ and the
// separation u both in Einstein radii:
//
//   A(u) = (1/N) ∫₀¹ I(t) 2t Ā(u, tρ) dt,   N = ∫₀¹ I(t) 2t dt,
//
// Ā(u, a) the mean point-lens magnification over the ring of radius a (the
// thin-ring kernel). By ρ, the law and l = u/ρ:
//
// - far from the star: the far-field series of the ring means weighted by the
//   law's moments ⟨t^2k⟩, Ā = A(u) [1 + 2(1 − s)²/(1 + s) Σ_k (ρ/u)^2k ⟨t^2k⟩ R_k(s)]
//   (far_field.hpp), with as many terms as l needs for 1e-11; from l = 4 for
//   the series routes below and the uniform disk, from l = 1.6 for the
//   quadrature;
// - ρ ≤ 0.1 and l < 4, a law that is a sum of tabulated bases (every closed
//   form but power-2): the series in ρ² of star_series.hpp, one polynomial
//   per position and law;
// - ρ ≤ 0.1 and l < 4, a sampled law: the same series for disks of
//   brightness 1 and t at every sample radius, summed piece by piece
//   (sampled_star.hpp);
// - a uniform star larger than 0.1: the closed form, in batches;
// - otherwise (power-2, larger stars), l < 1.6: a quadrature over the
//   radius of the ring means (star_quadrature.hpp).
//
// Several laws of one star share the positions' lookups (the series routes
// evaluate their polynomials together), and a law's derivatives in u, ρ and
// its parameters come from the same routes.
//
// Accuracy: 1e-12 relative on the series routes and the far field, 1e-9 on
// the quadrature, every u and every ρ up to LARGEST_RHO
// (tests/data/ld_truths.json, bench/limb_darkened.py).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "models/limb_darkening_law.hpp"
#include "models/sampled_star.hpp"
#include "models/star_quadrature.hpp"
#include "models/star_series.hpp"

namespace caldrith {

// The largest stellar radius served, in Einstein radii: the quadrature
// holds 1e-9 against mpmath up to ρ = 1e6 (where A − 1 ~ 2/ρ² is 2e-12),
// and A stays finite up to 1e307. No star seen through a lens comes near
// it; the bound is far out so that a fit that steps to a huge ρ (in ln ρ,
// say) gets A ≈ 1 back rather than an exception.
inline constexpr double LARGEST_RHO = 1e30;

// Where one law's results of a call go: columns as long as the call's
// positions. With derivatives (else d_u and d_rho are null): dA/du at fixed
// ρ, dA/dρ at fixed u, and dA/dc_j for each of the law's parameters in
// their constructor order (a sampled law's intensity samples).
struct StarColumns {
    double* value;
    double* d_u = nullptr;
    double* d_rho = nullptr;
    std::vector<double*> d_parameters{};
};

class LimbDarkenedStars {
public:
    // A star of radius `rho` > 0 with each of `laws`, whose results go to
    // `columns`, one per law (both must outlive it); derivatives where the
    // columns ask for them.
    LimbDarkenedStars(double rho, std::span<const LimbDarkeningLaw* const> laws, std::span<const StarColumns> columns);

    // The positions u, which start at `offset` of the call's, into every
    // column at the same offsets. The sign of u is ignored (dA/du takes it),
    // an infinite u gives 1 (and derivatives 0), a NaN gives NaN.
    void chunk(std::size_t offset, std::span<const double> u) const;

    // The time of one position on one core, for the worker pool's choice of
    // sharing a list or not.
    std::chrono::nanoseconds element_cost() const;

private:
    // How one law's positions near the star are computed.
    enum class Near { series, sampled_series, uniform_disk, quadrature };

    // A law's moments for the far field, ⟨t^2k⟩ for k = 1..20, and with
    // derivatives ∂⟨t^2k⟩/∂c_j; formed once, by the first chunk with a
    // position that needs them (most calls near the star never do), and then
    // shared by every chunk of the call.
    struct FarFieldMoments {
        std::vector<double> means;
        std::vector<std::vector<double>> derivatives;
    };
    struct LazyMoments {
        std::once_flag formed;
        // Set once formed: most positions find it so without call_once's
        // thread-local bookkeeping.
        std::atomic<bool> ready{false};
        FarFieldMoments moments;
    };
    struct Law {
        const LimbDarkeningLaw* law;
        Near near = Near::quadrature;
        double far_field_start = 0.0;
        bool bright_limb = false;  // I > 0 at the limb
        // The derivatives in the parameters as given over those the law
        // keeps: a sampled law's intensities are kept on a scale of their own.
        double parameter_scale = 1.0;
        // The series route: the law's weights, its weight set among the
        // star's and its first derivative set (the derivative in ρ, then in
        // each parameter), and Σ_f (∂w_f/∂c_j) N_f / N for each parameter.
        BasisWeights weights{};
        std::size_t value_set = 0;
        std::size_t derivative_sets = 0;
        std::vector<double> flux_shares{};
        std::optional<SampledSeriesStar> sampled{};
        std::optional<QuadratureStar> quadrature{};
        double quadrature_scale = 1.0;  // ρ_q / ρ of the star the quadrature computes (see chunk)
        std::unique_ptr<LazyMoments> far_field = std::make_unique<LazyMoments>();
    };

    // The weight sets of the laws on the series route: every law's
    // magnification first (these also give their slopes), then the
    // derivatives.
    void add_series_sets();
    const FarFieldMoments& far_field_moments(const Law& law) const;

    // One law at one position (x = |u| finite, l = x/ρ, `sign` that of u),
    // into its columns at `slot`, given the series sets' values and slopes
    // there, the uniform disk's closed form where a law takes it, and room
    // for the derivatives in the law's parameters.
    void position(const Law& law, const StarColumns& columns, std::size_t slot, double x, double l, double sign,
                  const double* series_values, const double* series_slopes, double disk,
                  std::span<double> scratch) const;

    double rho_;
    bool derivatives_;
    std::vector<Law> laws_;
    std::span<const StarColumns> columns_;
    std::vector<SeriesPolynomials::Weights> series_sets_;
    std::size_t value_sets_ = 0;
};

}  // namespace caldrith
