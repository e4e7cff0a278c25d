#include "models/limb_darkened.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "models/far_field.hpp"
#include "models/witt_mao.hpp"

namespace caldrith {
namespace {

// The far-field series from l = 1.6 on, where 20 terms reach 1e-11.
constexpr double FAR_FIELD_START = 1.6;
// A uniform star takes its closed form (about 110 ns in a batch) up to l = 4,
// where the series needs 7 terms.
constexpr double UNIFORM_SERIES_START = 4.0;

// What a position costs on one core (bench/limb_darkened.py,
// bench/star_quadrature.py): a uniform star about 110 ns anywhere; another
// law 50 ns along most of a light curve and, through the quadrature, 0.5 to
// 1 µs on the star (1 to 3 µs for sampled laws).
constexpr std::chrono::nanoseconds UNIFORM_COST{110};
constexpr std::chrono::nanoseconds LAW_COST{300};


}  // namespace

LimbDarkenedStar::LimbDarkenedStar(double rho, const LimbDarkeningLaw& law)
    : law_(law), rho_(rho), near_(Near::quadrature), far_field_start_(FAR_FIELD_START) {
    LimbDarkeningLaw::Moments moments = law.moments(STAR_FAR_FIELD_TERMS + 1);
    flux_ = moments.flux;
    means_ = std::move(moments.means);
    if (rho <= SERIES_MAX_RHO) {
        far_field_start_ = SERIES_MAX_Z;
        if (const std::optional<BasisWeights> weights = law.basis_weights()) {
            near_ = Near::series;
            double flux = 0.0;
            for (std::size_t b = 0; b < STAR_BASES; ++b) {
                flux += (*weights)[b] * BASIS_FLUX[b];
            }
            for (std::size_t b = 0; b < STAR_BASES; ++b) {
                series_weights_[b] = (*weights)[b] / flux;
            }
            order_weights_ = series_order_weights(rho);
        } else if (law.kind() == LawKind::sampled) {
            near_ = Near::sampled_series;
            sampled_.emplace(rho, law);
        }
    } else if (law.kind() == LawKind::uniform) {
        near_ = Near::uniform_disk;
        far_field_start_ = UNIFORM_SERIES_START;
    }
    if (near_ == Near::quadrature) {
        quadrature_.emplace(rho, law, flux_);
    }
}

double LimbDarkenedStar::operator()(double u) const {
    double result;
    chunk({&u, 1}, &result);
    return result;
}

template <class NearStar>
void LimbDarkenedStar::each_position(std::span<const double> u, double* results, NearStar&& near) const {
    for (std::size_t i = 0; i < u.size(); ++i) {
        const double x = std::fabs(u[i]);
        if (std::isnan(x)) {
            results[i] = x;
        } else if (x == std::numeric_limits<double>::infinity()) {
            results[i] = 1.0;
        } else if (const double l = x / rho_; l < far_field_start_) {
            results[i] = near(x, l);
        } else {
            results[i] = far_field(x, l);
        }
    }
}

void LimbDarkenedStar::chunk(std::span<const double> u, double* results) const {
    switch (near_) {
        case Near::series: {
            SeriesPolynomials polynomials(series_weights_, order_weights_);
            each_position(u, results, [&](double, double l) { return polynomials(locate_on_mesh(l)); });
            return;
        }
        case Near::sampled_series:
            each_position(u, results, [&](double x, double) { return (*sampled_)(x); });
            return;
        case Near::quadrature:
            each_position(u, results, [&](double x, double l) { return (*quadrature_)(x, l); });
            return;
        case Near::uniform_disk: break;
    }
    // A uniform star larger than the series serves: its closed form, in
    // batches, up to where the far-field series needs few terms.
    constexpr std::size_t BLOCK = 256;
    std::array<double, BLOCK> separations;
    std::array<double, BLOCK> values;
    std::array<std::size_t, BLOCK> slots;
    std::size_t gathered = 0;
    auto flush = [&] {
        uniform_disk_magnifications({separations.data(), gathered}, rho_, values.data());
        for (std::size_t j = 0; j < gathered; ++j) {
            results[slots[j]] = values[j];
        }
        gathered = 0;
    };
    for (std::size_t i = 0; i < u.size(); ++i) {
        const double separation = std::fabs(u[i]);
        if (separation < UNIFORM_SERIES_START * rho_) {
            separations[gathered] = separation;
            slots[gathered] = i;
            if (++gathered == BLOCK) {
                flush();
            }
        } else {
            each_position(u.subspan(i, 1), results + i, [](double, double) { return 0.0; });
        }
    }
    flush();
}

std::chrono::nanoseconds LimbDarkenedStar::element_cost() const {
    return law_.kind() == LawKind::uniform ? UNIFORM_COST : LAW_COST;
}

double LimbDarkenedStar::far_field(double u, double l) const {
    const std::size_t terms = star_far_field_terms(l);
    return star_far_field(u, rho_, std::span<const double>(means_).subspan(1, terms));
}

}  // namespace caldrith
