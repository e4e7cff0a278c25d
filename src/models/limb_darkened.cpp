#include "models/limb_darkened.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "models/far_field.hpp"
#include "models/witt_mao.hpp"

namespace caldrith {
namespace {

// The far-field series from l = 1.6 on, where 20 terms reach 1e-11.
constexpr double FAR_FIELD_START = 1.6;
// The smallest star the quadrature takes as it is (its scales 1/ρ² stay far
// from overflow); a smaller one is computed at this size and scaled.
constexpr double SMALLEST_QUADRATURE_RHO = 1e-100;
// A uniform star larger than the series serve takes its closed form (about
// 110 ns in a batch) up to l = 4, where the far-field series needs 7 terms.
constexpr double UNIFORM_SERIES_START = 4.0;

// What a position costs on one core (bench/limb_darkened.py,
// bench/star_quadrature.py), near the star and along most of a light curve:
// the series routes about 20 ns, a sampled law 40 ns a sample, a uniform star
// larger than the series serve 110 ns, the quadrature 0.5 to 1 µs near the
// star (1 to 3 µs for sampled laws) and 50 ns beyond. Derivatives about
// double.
constexpr std::chrono::nanoseconds SERIES_COST{20};
constexpr std::chrono::nanoseconds SAMPLE_COST{40};
constexpr std::chrono::nanoseconds UNIFORM_DISK_COST{110};
constexpr std::chrono::nanoseconds QUADRATURE_COST{300};

}  // namespace

LimbDarkenedStars::LimbDarkenedStars(double rho, std::span<const LimbDarkeningLaw* const> laws,
                                     std::span<const StarColumns> columns)
    : rho_(rho), derivatives_(!columns.empty() && columns.front().d_u != nullptr), columns_(columns) {
    laws_.reserve(laws.size());
    for (const LimbDarkeningLaw* law : laws) {
        Law& entry = laws_.emplace_back(
            Law{.law = law,
                .far_field_start = FAR_FIELD_START,
                .bright_limb = law->at_radius(1.0) > 0.0,
                .parameter_scale = law->intensity_scale()});
        if (rho <= SERIES_MAX_RHO) {
            if (const std::optional<BasisWeights> weights = law->basis_weights()) {
                entry.near = Near::series;
                entry.far_field_start = SERIES_MAX_Z;
                entry.weights = *weights;
                continue;
            }
            if (law->kind() == LawKind::sampled) {
                entry.near = Near::sampled_series;
                entry.far_field_start = SERIES_MAX_Z;
                entry.sampled.emplace(rho, *law);
                continue;
            }
        } else if (law->kind() == LawKind::uniform && !derivatives_) {
            entry.near = Near::uniform_disk;
            entry.far_field_start = UNIFORM_SERIES_START;
            continue;
        }
        // A star too small for the quadrature's own scales (1/ρ² overflows) is the smallest it
        // serves, magnified 1/ρ times as much: A = T(u/ρ)/ρ up to O(ρ), far below an ulp there.
        entry.quadrature_scale = std::fmax(SMALLEST_QUADRATURE_RHO / rho, 1.0);
        entry.quadrature.emplace(rho * entry.quadrature_scale, *law, law->moments(1).flux);
    }
    add_series_sets();
}

void LimbDarkenedStars::add_series_sets() {
    // A = Σ_f w_f S_f / N with N = Σ_f w_f N_f: the weights over the flux.
    auto flux_of = [](const BasisWeights& w) {
        double flux = 0.0;
        for (std::size_t b = 0; b < STAR_BASES; ++b) {
            flux += w[b] * BASIS_FLUX[b];
        }
        return flux;
    };
    auto over = [](const BasisWeights& w, double flux) {
        BasisWeights scaled;
        for (std::size_t b = 0; b < STAR_BASES; ++b) {
            scaled[b] = w[b] / flux;
        }
        return scaled;
    };
    const std::vector<double> orders = series_order_weights(rho_);
    for (Law& law : laws_) {
        if (law.near == Near::series) {
            law.value_set = series_sets_.size();
            series_sets_.push_back({over(law.weights, flux_of(law.weights)), orders});
        }
    }
    value_sets_ = series_sets_.size();
    if (!derivatives_) {
        return;
    }
    // ∂A/∂ρ at fixed z weighs the orders by their derivatives; ∂A/∂c_j =
    // Σ_f (∂w_f/∂c_j)(S_f − A N_f)/N, the first part one more set.
    const std::vector<double> order_slopes = series_order_weights_derivative(rho_);
    for (Law& law : laws_) {
        if (law.near != Near::series) {
            continue;
        }
        const double flux = flux_of(law.weights);
        law.derivative_sets = series_sets_.size();
        series_sets_.push_back({over(law.weights, flux), order_slopes});
        for (const BasisWeights& derivative : law.law->basis_weight_derivatives()) {
            series_sets_.push_back({over(derivative, flux), orders});
            law.flux_shares.push_back(flux_of(derivative) / flux);
        }
    }
}

const LimbDarkenedStars::FarFieldMoments& LimbDarkenedStars::far_field_moments(const Law& law) const {
    if (law.far_field->ready.load(std::memory_order_acquire)) {
        return law.far_field->moments;
    }
    std::call_once(law.far_field->formed, [&] {
        const LimbDarkeningLaw::Moments moments = law.law->moments(STAR_FAR_FIELD_TERMS + 1);
        FarFieldMoments& result = law.far_field->moments;
        result.means.assign(moments.means.begin() + 1, moments.means.end());
        if (derivatives_) {
            // ∂⟨t^2k⟩/∂c_j = (∂M_k/∂c_j − ⟨t^2k⟩ ∂N/∂c_j) / N, M_k = N ⟨t^2k⟩.
            for (const std::vector<double>& raw : law.law->coefficient_moments(STAR_FAR_FIELD_TERMS + 1)) {
                std::vector<double>& derivative = result.derivatives.emplace_back(STAR_FAR_FIELD_TERMS);
                for (std::size_t k = 1; k <= STAR_FAR_FIELD_TERMS; ++k) {
                    derivative[k - 1] = (raw[k] - moments.means[k] * raw[0]) / moments.flux;
                }
            }
        }
        law.far_field->ready.store(true, std::memory_order_release);
    });
    return law.far_field->moments;
}

void LimbDarkenedStars::chunk(std::size_t offset, std::span<const double> u) const {
    std::optional<SeriesPolynomials> series;
    std::vector<double> series_values(series_sets_.size());
    std::vector<double> series_slopes(series_sets_.size());
    if (!series_sets_.empty()) {
        series.emplace(series_sets_);
    }
    // The derivatives in one law's parameters at one position.
    std::size_t most_parameters = 0;
    for (const StarColumns& columns : columns_) {
        most_parameters = std::max(most_parameters, columns.d_parameters.size());
    }
    std::vector<double> scratch(most_parameters);
    // A uniform star larger than the series serve: its closed form, in a
    // batch for the chunk.
    std::vector<double> disks;
    if (std::any_of(laws_.begin(), laws_.end(), [](const Law& law) { return law.near == Near::uniform_disk; })) {
        disks.resize(u.size());
        for (std::size_t i = 0; i < u.size(); ++i) {
            disks[i] = std::fabs(u[i]);
        }
        uniform_disk_magnifications(disks, rho_, disks.data());
    }
    for (std::size_t i = 0; i < u.size(); ++i) {
        const std::size_t slot = offset + i;
        const double x = std::fabs(u[i]);
        if (!(x < std::numeric_limits<double>::infinity())) {
            // NaN gives NaN everywhere; an infinite separation, no magnification.
            const double value = std::isnan(x) ? x : 1.0;
            const double slope = std::isnan(x) ? x : 0.0;
            for (const StarColumns& columns : columns_) {
                columns.value[slot] = value;
                if (derivatives_) {
                    columns.d_u[slot] = slope;
                    columns.d_rho[slot] = slope;
                    for (double* d : columns.d_parameters) {
                        d[slot] = slope;
                    }
                }
            }
            continue;
        }
        const double l = x / rho_;
        if (series && l < SERIES_MAX_Z) {
            const MeshPoint at = locate_on_mesh(l);
            if (derivatives_) {
                series->evaluate(at, series_values.data(), series_slopes.data(), value_sets_);
            } else {
                series->evaluate(at, series_values.data());
            }
        }
        const double sign = u[i] < 0.0 ? -1.0 : 1.0;
        for (std::size_t k = 0; k < laws_.size(); ++k) {
            const Law& law = laws_[k];
            // Magnifications alone, on the two routes of most positions: a
            // series already evaluated, or the far field.
            if (!derivatives_ && l < law.far_field_start && law.near == Near::series) {
                columns_[k].value[slot] = series_values[law.value_set];
                continue;
            }
            if (!derivatives_ && l >= law.far_field_start) {
                const std::size_t terms = star_far_field_terms(l);
                columns_[k].value[slot] =
                    star_far_field(x, rho_, std::span<const double>(far_field_moments(law).means).first(terms));
                continue;
            }
            position(law, columns_[k], slot, x, l, sign, series_values.data(), series_slopes.data(),
                     disks.empty() ? 0.0 : disks[i], scratch);
        }
    }
}

void LimbDarkenedStars::position(const Law& law, const StarColumns& columns, std::size_t slot, double x, double l,
                                 double sign, const double* series_values, const double* series_slopes, double disk,
                                 std::span<double> scratch) const {
    const std::span<double> parameters = scratch.first(derivatives_ ? columns.d_parameters.size() : 0);
    StarDerivatives result{0.0, 0.0, 0.0};
    if (l >= law.far_field_start) {
        const FarFieldMoments& moments = far_field_moments(law);
        const std::size_t terms = star_far_field_terms(l);
        const std::span<const double> means = std::span<const double>(moments.means).first(terms);
        if (derivatives_) {
            const FarFieldGradient far = star_far_field_gradient(x, rho_, means, moments.derivatives, parameters);
            result = {far.value, far.d_u, far.d_rho};
        } else {
            result.value = star_far_field(x, rho_, means);
        }
    } else {
        switch (law.near) {
            case Near::series: {
                result.value = series_values[law.value_set];
                if (derivatives_) {
                    const double slope = series_slopes[law.value_set];
                    const double* derivatives = series_values + law.derivative_sets;
                    result.d_u = slope / rho_;
                    result.d_rho = derivatives[0] - l / rho_ * slope;
                    for (std::size_t j = 0; j < parameters.size(); ++j) {
                        parameters[j] = derivatives[1 + j] - result.value * law.flux_shares[j];
                    }
                }
                break;
            }
            case Near::sampled_series:
                result = derivatives_ ? law.sampled->gradient(x, parameters) : StarDerivatives{(*law.sampled)(x), 0.0, 0.0};
                break;
            case Near::uniform_disk: result.value = disk; break;
            case Near::quadrature: {
                // With a scale s, A(u, ρ) = s A_q(s u, s ρ): ∂A/∂u = s² ∂A_q/∂u,
                // ∂A/∂ρ = −(s/ρ)(A_q + s u ∂A_q/∂u), and s times the parameters' derivatives.
                const double scale = law.quadrature_scale;
                const double at = x * scale;
                result = derivatives_ ? law.quadrature->gradient(at, l, parameters)
                                      : StarDerivatives{(*law.quadrature)(at, l), 0.0, 0.0};
                if (scale != 1.0) {
                    result = {scale * result.value, scale * scale * result.d_u,
                              -(scale / rho_) * (result.value + at * result.d_u)};
                    for (double& d : parameters) {
                        d *= scale;
                    }
                }
                break;
            }
        }
    }
    if (derivatives_ && l == 1.0 && law.bright_limb && (law.near == Near::series || law.near == Near::sampled_series)) {
        // The lens on the limb of a law bright there: A has a term (l − 1) ln|l − 1|, whose
        // derivatives diverge; the limits from both sides, as the quadrature gives them.
        result.d_u = -std::numeric_limits<double>::infinity();
        result.d_rho = std::numeric_limits<double>::infinity();
    }
    if (law.parameter_scale != 1.0) {
        for (double& d : parameters) {
            d *= law.parameter_scale;
        }
    }
    columns.value[slot] = result.value;
    if (derivatives_) {
        columns.d_u[slot] = sign * result.d_u;
        columns.d_rho[slot] = result.d_rho;
        for (std::size_t j = 0; j < parameters.size(); ++j) {
            columns.d_parameters[j][slot] = parameters[j];
        }
    }
}

std::chrono::nanoseconds LimbDarkenedStars::element_cost() const {
    std::chrono::nanoseconds cost{0};
    for (const Law& law : laws_) {
        switch (law.near) {
            case Near::series: cost += SERIES_COST; break;
            case Near::sampled_series:
                cost += SAMPLE_COST * static_cast<long>(law.law->sample_radii().size());
                break;
            case Near::uniform_disk: cost += UNIFORM_DISK_COST; break;
            case Near::quadrature:
                cost += QUADRATURE_COST + SAMPLE_COST * static_cast<long>(law.law->sample_radii().size());
                break;
        }
    }
    return derivatives_ ? 2 * cost : cost;
}

}  // namespace caldrith
