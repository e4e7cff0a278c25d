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
// A uniform star takes its closed form (about 110 ns in a batch) up to l = 4,
// where the series needs 7 terms.
constexpr double UNIFORM_SERIES_START = 4.0;

// What a position costs on one core (bench/limb_darkened.py): a uniform star
// about 110 ns anywhere; another law 50 ns along most of a light curve and
// 3 µs on the star.
constexpr std::chrono::nanoseconds UNIFORM_COST{110};
constexpr std::chrono::nanoseconds LAW_COST{300};

// Nodes per piece of the quadrature: more for a star with the lens outside
// (one piece), within 5% of the limb, and for stars larger than the Einstein
// radius, whose rings near the lens vary on the Einstein radius's scale, 1/ρ
// of the star's (Ā has complex singularities 2i/ρ from the ring through the
// lens). Against the truths of tests/data/ld_truths.json: 1.3e-8 at worst
// with these counts, 5e-8 with 10 and 16.
constexpr std::size_t NODES = 12;
constexpr std::size_t MORE_NODES = 16;
constexpr double NEAR_LIMB = 0.05;
constexpr double LARGE_STAR = 0.5;
constexpr std::size_t FEW_NODES = 8;
constexpr double SHORT_PIECE = 0.5;
constexpr std::size_t SHORT_PIECE_NODES = 10;
constexpr double CLEAR_PIECE = 1.0;
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
            each_position(u, results, [&](double x, double l) { return quadrature(x, l); });
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
    const std::size_t terms = far_field_terms(l);
    return star_far_field(u, rho_, std::span<const double>(means_).subspan(1, terms));
}

double LimbDarkenedStar::quadrature(double u, double l) const {
    const double disk = uniform_disk_magnification(u, rho_);
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

    const bool one_piece = cuts.size() == 2;
    const std::size_t count =
        one_piece || std::fabs(l - 1.0) < NEAR_LIMB || rho_ > LARGE_STAR ? MORE_NODES : NODES;
    // A piece between two kinks of a sampled law, clear of the ring through
    // the lens by its own width, is smooth there: fewer nodes.
    auto nodes_for = [&](double lo, double hi) {
        // Of the two pieces of a lens inside the star, the shorter one needs fewer.
        if (cuts.size() == 3 && count == NODES && hi - lo < SHORT_PIECE) {
            return SHORT_PIECE_NODES;
        }
        const double clearance = std::fmax(lo - l, l - hi) / (hi - lo);
        if (cuts.size() > 3 && rho_ <= LARGE_STAR && clearance >= CLEAR_PIECE) {
            return FEW_NODES;
        }
        return count;
    };
    // The nodes of every piece, with their weights, evaluated as one batch.
    std::vector<double> t;
    std::vector<double> weights;
    t.reserve(count * (cuts.size() - 1));
    weights.reserve(count * (cuts.size() - 1));
    for (std::size_t j = 0; j + 1 < cuts.size(); ++j) {
        const double lo = cuts[j];
        const double hi = cuts[j + 1];
        if (!(hi > lo)) {
            continue;
        }
        const bool ring_at_lo = lo == l || (lo == 0.0 && l == 0.0);
        const int at_lo = ring_at_lo ? AFTER_RING : 1;
        const int at_hi = hi == l ? BEFORE_RING : (hi == 1.0 ? LIMB : 1);
        const double width = hi - lo;
        for (const QuadratureNode& node : gauss_legendre_rule(nodes_for(lo, hi), at_lo, at_hi)) {
            t.push_back(lo + width * node.x);
            weights.push_back(node.weight * width);
        }
    }
    std::vector<double> rings(t.size());
    model_batch().thin_ring(l, t, 1.0, rho_, RELATIVE_NEAR_RING_WINDOW * l, rings);
    double sum = 0.0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const double term = (law_.at_radius(t[i]) - reference) * (2.0 * t[i]) * rings[i];
        // A node that rounds onto the ring through the lens meets its
        // (integrable) singularity: it counts as 0.
        if (std::isfinite(term)) {
            sum += weights[i] * term;
        }
    }
    // ∫₀¹ 2t Ā dt is the uniform disk's magnification.
    return (reference * disk + sum) / flux_;
}

}  // namespace caldrith
