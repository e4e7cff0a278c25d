#include "models/limb_darkened.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "kernels/gauss_legendre.hpp"
#include "models/batch.hpp"
#include "models/far_field.hpp"
#include "models/integrated.hpp"
#include "models/witt_mao.hpp"

namespace caldrith {
namespace {

// The far-field series from l = 1.6 on, where 20 terms reach 1e-11; the
// terms needed fall as 3.8 / log10 l.
constexpr double FAR_FIELD_START = 1.6;
constexpr double TERMS_PER_DECADE = 3.8;
constexpr std::size_t FEWEST_TERMS = 3;

// Nodes per piece of the quadrature, more within 5% of the limb.
constexpr std::size_t NODES = 12;
constexpr std::size_t NODES_NEAR_LIMB = 16;
constexpr double NEAR_LIMB = 0.05;
// How far the nodes are drawn towards the ring through the lens (order 3
// after it, 4 before it) and towards the limb (4).
constexpr int AFTER_RING = 3;
constexpr int BEFORE_RING = 4;
constexpr int LIMB = 4;

std::size_t far_field_terms(double l) {
    const double terms = std::ceil(TERMS_PER_DECADE / std::log10(l));
    return std::clamp(static_cast<std::size_t>(terms), FEWEST_TERMS, STAR_FAR_FIELD_TERMS);
}

}  // namespace

LimbDarkenedStar::LimbDarkenedStar(double rho, const LimbDarkeningLaw& law) : law_(law), rho_(rho) {
    LimbDarkeningLaw::Moments moments = law.moments(STAR_FAR_FIELD_TERMS + 1);
    flux_ = moments.flux;
    means_ = std::move(moments.means);
}

double LimbDarkenedStar::operator()(double u) const {
    if (std::isnan(u)) {
        return u;
    }
    u = std::fabs(u);
    if (u == std::numeric_limits<double>::infinity()) {
        return 1.0;
    }
    const double l = u / rho_;
    return l >= FAR_FIELD_START ? far_field(u, l) : quadrature(u, l);
}

void LimbDarkenedStar::chunk(std::span<const double> u, double* results) const {
    for (std::size_t i = 0; i < u.size(); ++i) {
        results[i] = (*this)(u[i]);
    }
}

double LimbDarkenedStar::far_field(double u, double l) const {
    const std::size_t terms = far_field_terms(l);
    return star_far_field(u, rho_, std::span<const double>(means_).subspan(1, terms));
}

double LimbDarkenedStar::quadrature(double u, double l) const {
    const double disk = uniform_disk_magnification(u, rho_);
    if (law_.kind() == LawKind::uniform) {
        return disk;
    }
    // I = I(l) + (I − I(l)): the first part integrates to I(l) times the
    // uniform disk; beyond the limb the limb's value is taken out.
    const double reference = law_.at_radius(std::fmin(l, 1.0));
    const bool inside = l > 0.0 && l < 1.0;

    // The pieces: from the centre to the limb, cut at the ring through the
    // lens and at the law's kinks.
    std::vector<double> cuts{0.0};
    for (const double kink : law_.kinks()) {
        if (inside && kink > l && cuts.back() < l) {
            cuts.push_back(l);
        }
        cuts.push_back(kink);
    }
    if (inside && cuts.back() < l) {
        cuts.push_back(l);
    }
    cuts.push_back(1.0);

    const std::size_t count = std::fabs(l - 1.0) < NEAR_LIMB ? NODES_NEAR_LIMB : NODES;
    const ModelBatch& batch = model_batch();
    const double near_ring_window = RELATIVE_NEAR_RING_WINDOW * l;
    std::array<double, NODES_NEAR_LIMB> t;
    std::array<double, NODES_NEAR_LIMB> rings;
    double sum = 0.0;
    for (std::size_t j = 0; j + 1 < cuts.size(); ++j) {
        const double lo = cuts[j];
        const double hi = cuts[j + 1];
        if (!(hi > lo)) {
            continue;
        }
        const bool ring_at_lo = lo == l || (lo == 0.0 && l == 0.0);
        const int at_lo = ring_at_lo ? AFTER_RING : 1;
        const int at_hi = hi == l ? BEFORE_RING : (hi == 1.0 ? LIMB : 1);
        const auto rule = gauss_legendre_rule(count, at_lo, at_hi);
        const double width = hi - lo;
        for (std::size_t i = 0; i < count; ++i) {
            t[i] = lo + width * rule[i].x;
        }
        batch.thin_ring(l, {t.data(), count}, 1.0, rho_, near_ring_window, {rings.data(), count});
        double piece = 0.0;
        for (std::size_t i = 0; i < count; ++i) {
            const double term = (law_.at_radius(t[i]) - reference) * (2.0 * t[i]) * rings[i];
            // A node that rounds onto the ring through the lens meets its
            // (integrable) singularity: it counts as 0.
            if (std::isfinite(term)) {
                piece += rule[i].weight * term;
            }
        }
        sum += piece * width;
    }
    // ∫₀¹ 2t Ā dt is the uniform disk's magnification.
    return (reference * disk + sum) / flux_;
}

}  // namespace caldrith
