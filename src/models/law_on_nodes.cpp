#include "models/law_on_nodes.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "kernels/powers.hpp"

namespace caldrith {
namespace {

// Beyond this exponent the power-2 law's brightness, μ^α = exp(−φ) with
// φ = −(α/2) ln(1 − t²), is concentrated enough towards the centre to need
// cuts of its own: at φ = FIRST_FOLDS, then each piece twice as many e-folds
// long as the one before (its brightness the smaller, so that the same
// relative error there matters less), until μ^α is below exp(−LAST_FOLDS).
constexpr double CONCENTRATED = 4.0;
constexpr double FIRST_FOLDS = 3.0;
constexpr double LAST_FOLDS = 45.0;
constexpr std::size_t BRIGHTNESS_NODES = 12;

std::vector<double> brightness_cuts(double alpha) {
    std::vector<double> cuts;
    if (alpha > CONCENTRATED) {
        for (double folds = FIRST_FOLDS; folds < LAST_FOLDS; folds = 2.0 * folds + FIRST_FOLDS) {
            // 1 − t² = exp(−2φ/α)
            const double t = std::sqrt(-std::expm1(-2.0 * folds / alpha));
            if (!(t < 1.0)) {
                break;
            }
            cuts.push_back(t);
        }
    }
    return cuts;
}

// μ² = (1 − t)(1 + t), which keeps its digits at the limb; 0 beyond it.
double mu_squared(double t) { return std::fmax((1.0 - t) * (1.0 + t), 0.0); }

// The most nodes of a piece this evaluates at once.
constexpr std::size_t PIECE_NODES = 16;

// ln μ² and μ^α at the nodes.
struct Powers {
    std::array<double, PIECE_NODES> log_mu2;
    std::array<double, PIECE_NODES> mu_alpha;

    Powers(std::span<const double> t, double alpha) {
        power_batch().mu_powers(t, alpha, log_mu2.data(), mu_alpha.data());
    }
};

}  // namespace

LawOnNodes::LawOnNodes(const LimbDarkeningLaw& law)
    : law_(law), kind_(law.kind()), coefficients_(law.coefficients().begin(), law.coefficients().end()) {
    const auto& c = coefficients_;
    switch (kind_) {
        case LawKind::uniform: break;
        case LawKind::linear: flux_derivatives_ = {-1.0 / 3.0}; break;
        case LawKind::quadratic: flux_derivatives_ = {-1.0 / 3.0, -1.0 / 6.0}; break;
        case LawKind::square_root: flux_derivatives_ = {-1.0 / 3.0, -1.0 / 5.0}; break;
        case LawKind::logarithmic: flux_derivatives_ = {-1.0 / 3.0, 2.0 / 9.0}; break;
        case LawKind::power2: {
            const double a = c[1] + 2.0;
            flux_derivatives_ = {2.0 / a - 1.0, -2.0 * c[0] / (a * a)};
            cuts_ = brightness_cuts(c[1]);
            break;
        }
        case LawKind::four_parameter: flux_derivatives_ = {-1.0 / 5.0, -1.0 / 3.0, -3.0 / 7.0, -1.0 / 2.0}; break;
        case LawKind::sampled: {
            // ∫ of each sample's hat function times 2t: quadratic on each
            // segment, exact by the two-point Gauss rule.
            const std::span<const double> r = law.sample_radii();
            cuts_.assign(law.kinks().begin(), law.kinks().end());
            flux_derivatives_.assign(r.size(), 0.0);
            constexpr double OFFSET = 0.28867513459481287;  // 1/(2√3)
            for (std::size_t j = 0; j + 1 < r.size(); ++j) {
                const double width = r[j + 1] - r[j];
                for (const double x : {0.5 - OFFSET, 0.5 + OFFSET}) {
                    const double t = r[j] + width * x;
                    flux_derivatives_[j] += 0.5 * width * (1.0 - x) * 2.0 * t;
                    flux_derivatives_[j + 1] += 0.5 * width * x * 2.0 * t;
                }
            }
            break;
        }
    }
}

bool LawOnNodes::powers_at_limb() const noexcept { return kind_ != LawKind::sampled && kind_ != LawKind::uniform; }

std::size_t LawOnNodes::cut_nodes() const noexcept {
    return kind_ == LawKind::power2 && !cuts_.empty() ? BRIGHTNESS_NODES : 0;
}

std::size_t LawOnNodes::coefficient_count() const noexcept {
    return kind_ == LawKind::sampled ? law_.sample_radii().size() : coefficients_.size();
}

std::size_t LawOnNodes::segment_of(double lo, double hi) const {
    const std::span<const double> r = law_.sample_radii();
    const double middle = 0.5 * (lo + hi);
    const auto above = std::upper_bound(r.begin() + 1, r.end() - 1, middle);
    return static_cast<std::size_t>(above - r.begin()) - 1;
}

double LawOnNodes::sampled_at(std::size_t j, double t) const {
    const std::span<const double> r = law_.sample_radii();
    const std::span<const double> intensity = law_.sample_intensities();
    return intensity[j] + (intensity[j + 1] - intensity[j]) * ((t - r[j]) / (r[j + 1] - r[j]));
}

double LawOnNodes::at(double t) const {
    if (kind_ == LawKind::sampled) {
        const double clamped = std::clamp(t, 0.0, 1.0);
        return sampled_at(segment_of(clamped, clamped), clamped);
    }
    if (kind_ == LawKind::power2) {
        const Powers powers({&t, 1}, coefficients_[1]);
        return 1.0 - coefficients_[0] + coefficients_[0] * powers.mu_alpha[0];
    }
    return closed_form_intensity(kind_, coefficients_, std::sqrt(mu_squared(t)));
}

void LawOnNodes::on_piece(double lo, double hi, std::span<const double> t, double* out) const {
    switch (kind_) {
        case LawKind::sampled: {
            const std::size_t j = segment_of(lo, hi);
            for (std::size_t i = 0; i < t.size(); ++i) {
                out[i] = sampled_at(j, t[i]);
            }
            return;
        }
        case LawKind::power2: {
            const double c = coefficients_[0];
            const Powers powers(t, coefficients_[1]);
            for (std::size_t i = 0; i < t.size(); ++i) {
                out[i] = 1.0 - c + c * powers.mu_alpha[i];
            }
            return;
        }
        default:
            for (std::size_t i = 0; i < t.size(); ++i) {
                out[i] = closed_form_intensity(kind_, coefficients_, std::sqrt(mu_squared(t[i])));
            }
    }
}

LawOnNodes::Written LawOnNodes::coefficient_derivatives_at(double t,
                                                          std::span<double, MAX_LAW_COEFFICIENTS> out) const {
    const double clamped = std::clamp(t, 0.0, 1.0);
    return coefficient_derivatives(clamped, clamped, {&clamped, 1}, out.data(), 1);
}

LawOnNodes::Written LawOnNodes::coefficient_derivatives(double lo, double hi, std::span<const double> t, double* out,
                                                       std::size_t stride) const {
    const auto& c = coefficients_;
    auto each = [&](auto&& terms) {
        for (std::size_t i = 0; i < t.size(); ++i) {
            const double mu2 = mu_squared(t[i]);
            terms(mu2, i);
        }
    };
    switch (kind_) {
        case LawKind::sampled: {
            const std::size_t j = segment_of(lo, hi);
            const std::span<const double> r = law_.sample_radii();
            for (std::size_t i = 0; i < t.size(); ++i) {
                const double x = (t[i] - r[j]) / (r[j + 1] - r[j]);
                out[i] = 1.0 - x;
                out[stride + i] = x;
            }
            return {j, 2};
        }
        case LawKind::linear:
            each([&](double mu2, std::size_t i) { out[i] = std::sqrt(mu2) - 1.0; });
            break;
        case LawKind::quadratic:
            each([&](double mu2, std::size_t i) {
                const double dark = 1.0 - std::sqrt(mu2);
                out[i] = -dark;
                out[stride + i] = -(dark * dark);
            });
            break;
        case LawKind::square_root:
            each([&](double mu2, std::size_t i) {
                const double mu = std::sqrt(mu2);
                out[i] = mu - 1.0;
                out[stride + i] = std::sqrt(mu) - 1.0;
            });
            break;
        case LawKind::logarithmic:
            each([&](double mu2, std::size_t i) {
                const double mu = std::sqrt(mu2);
                out[i] = mu - 1.0;
                out[stride + i] = mu > 0.0 ? -mu * std::log(mu) : 0.0;
            });
            break;
        case LawKind::power2: {
            const Powers powers(t, c[1]);
            for (std::size_t i = 0; i < t.size(); ++i) {
                const double mu_alpha = powers.mu_alpha[i];
                out[i] = mu_alpha - 1.0;
                out[stride + i] = mu_alpha > 0.0 ? c[0] * mu_alpha * (0.5 * powers.log_mu2[i]) : 0.0;
            }
            break;
        }
        case LawKind::four_parameter:
            each([&](double mu2, std::size_t i) {
                const double mu = std::sqrt(mu2);
                const double root = std::sqrt(mu);
                out[i] = root - 1.0;
                out[stride + i] = mu - 1.0;
                out[2 * stride + i] = mu * root - 1.0;
                out[3 * stride + i] = mu2 - 1.0;
            });
            break;
        case LawKind::uniform: break;
    }
    return {0, coefficients_.size()};
}

}  // namespace caldrith
