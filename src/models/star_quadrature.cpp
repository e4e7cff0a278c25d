#include "models/star_quadrature.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "models/disk_mean.hpp"
#include "models/ring_mean.hpp"

namespace caldrith {
namespace {

// The most nodes of one piece (kernels/gauss_legendre.hpp's rules used by
// star_pieces.cpp).
constexpr std::size_t PIECE_NODES = 16;

// The nodes of one piece: radius t, its gap t − l to the ring through the
// lens (formed from the piece's end at l where there is one, which keeps
// its digits next to the ring) and the weight, times 2t.
struct PieceNodes {
    std::size_t count;
    std::array<double, PIECE_NODES> t;
    std::array<double, PIECE_NODES> gap;
    std::array<double, PIECE_NODES> weight;

    PieceNodes(const StarPiece& piece, double l) : count(piece.count) {
        const double width = piece.hi - piece.lo;
        for (std::size_t i = 0; i < count; ++i) {
            const QuadratureNode& node = piece.nodes[i];
            t[i] = piece.lo + width * node.x;
            if (piece.ring_at_lo) {
                gap[i] = width * node.x;
            } else if (piece.ring_at_hi) {
                gap[i] = -width * (1.0 - node.x);
            } else {
                gap[i] = t[i] - l;
            }
            weight[i] = node.weight * width * (2.0 * t[i]);
        }
    }

    std::span<const double> radii() const { return {t.data(), count}; }
    std::span<const double> gaps() const { return {gap.data(), count}; }
};

// R − 1 in place of R: with ∫₀¹ (I(t) − I(l)) 2t dt = N − I(l) in closed
// form, the quadrature carries only the magnification's excess over 1, so
// that a large star (A − 1 ~ 1/ρ²) keeps its digits.
void to_excess(const PieceNodes& nodes, std::array<double, PIECE_NODES>& rings) {
    for (std::size_t i = 0; i < nodes.count; ++i) {
        rings[i] -= 1.0;
    }
}

// Σ w (f − f_ref) x over the nodes; a node that rounds onto the ring through
// the lens meets its (integrable) singularity and counts as 0.
double subtracted_sum(const PieceNodes& nodes, const double* f, double reference, const double* x) {
    double sum = 0.0;
    for (std::size_t i = 0; i < nodes.count; ++i) {
        const double term = (f[i] - reference) * x[i];
        if (std::isfinite(term)) {
            sum += nodes.weight[i] * term;
        }
    }
    return sum;
}

}  // namespace

QuadratureStar::QuadratureStar(double rho, const LimbDarkeningLaw& law, double flux)
    : law_(law), rho_(rho), c_(1.0 / rho), flux_(flux),
      shape_{c_, law_.powers_at_limb(), law_.cuts(), law_.cut_nodes()} {}

double QuadratureStar::operator()(double, double l) const {
    // I = I(l) + (I − I(l)); beyond the limb the limb's value is taken out.
    const double reference = law_.at(std::fmin(l, 1.0));
    double sum = 0.0;
    // Named: a temporary in the loop's range would end before the loop body reads its pieces.
    const StarPieces pieces(shape_, l);
    for (const StarPiece& piece : pieces.pieces()) {
        const PieceNodes nodes(piece, l);
        std::array<double, PIECE_NODES> excess;
        std::array<double, PIECE_NODES> intensity;
        ring_mean_batch().values(l, c_, nodes.radii(), nodes.gaps(), {excess.data(), nodes.count});
        to_excess(nodes, excess);
        law_.on_piece(piece.lo, piece.hi, nodes.radii(), intensity.data());
        sum += subtracted_sum(nodes, intensity.data(), reference, excess.data());
    }
    return (reference * uniform_disk_mean(l, rho_) + (flux_ - reference) + sum) / flux_;
}

StarDerivatives QuadratureStar::gradient(double, double l, std::span<double> d_coefficients) const {
    const double at = std::fmin(l, 1.0);
    const double reference = law_.at(at);
    // ∂I/∂c_k at the reference radius: not 0 for the `reference_weights.count`
    // coefficients from `reference_weights.first` on.
    std::array<double, MAX_LAW_COEFFICIENTS> reference_derivatives{};
    const LawOnNodes::Written reference_weights = law_.coefficient_derivatives_at(at, reference_derivatives);
    auto reference_of = [&](std::size_t k) {
        return k >= reference_weights.first && k < reference_weights.first + reference_weights.count
                   ? reference_derivatives[k - reference_weights.first]
                   : 0.0;
    };
    // d_coefficients gathers ∫ (∂I/∂c_k(t) − ∂I/∂c_k(l)) 2t (R − 1) dt first.
    std::fill(d_coefficients.begin(), d_coefficients.end(), 0.0);
    double sum = 0.0;
    double sum_l = 0.0;
    double sum_c = 0.0;
    const StarPieces pieces(shape_, l);
    for (const StarPiece& piece : pieces.pieces()) {
        const PieceNodes nodes(piece, l);
        std::array<double, PIECE_NODES> excess;
        std::array<double, PIECE_NODES> ring_l;
        std::array<double, PIECE_NODES> ring_c;
        std::array<double, PIECE_NODES> intensity;
        ring_mean_batch().with_derivatives(l, c_, nodes.radii(), nodes.gaps(), {excess.data(), nodes.count},
                                           {ring_l.data(), nodes.count}, {ring_c.data(), nodes.count});
        to_excess(nodes, excess);
        law_.on_piece(piece.lo, piece.hi, nodes.radii(), intensity.data());
        sum += subtracted_sum(nodes, intensity.data(), reference, excess.data());
        sum_l += subtracted_sum(nodes, intensity.data(), reference, ring_l.data());
        sum_c += subtracted_sum(nodes, intensity.data(), reference, ring_c.data());

        std::array<double, MAX_LAW_COEFFICIENTS * PIECE_NODES> weights;
        const LawOnNodes::Written written =
            law_.coefficient_derivatives(piece.lo, piece.hi, nodes.radii(), weights.data(), PIECE_NODES);
        for (std::size_t j = 0; j < written.count; ++j) {
            const std::size_t k = written.first + j;
            d_coefficients[k] += subtracted_sum(nodes, weights.data() + j * PIECE_NODES, reference_of(k), excess.data());
        }
        // A reference coefficient that is 0 on this piece.
        for (std::size_t j = 0; j < reference_weights.count; ++j) {
            const std::size_t k = reference_weights.first + j;
            if (k < written.first || k >= written.first + written.count) {
                const std::array<double, PIECE_NODES> zero{};
                d_coefficients[k] += subtracted_sum(nodes, zero.data(), reference_derivatives[j], excess.data());
            }
        }
    }
    const DiskDerivatives disk = uniform_disk_derivatives(l, rho_);
    const double value = (reference * disk.value + (flux_ - reference) + sum) / flux_;
    const std::span<const double> flux_derivatives = law_.flux_derivatives();
    for (std::size_t k = 0; k < d_coefficients.size(); ++k) {
        const double g = reference_of(k);
        const double d_total = g * disk.value + (flux_derivatives[k] - g) + d_coefficients[k];
        d_coefficients[k] = (d_total - value * flux_derivatives[k]) / flux_;
    }
    // A law dark at the limb (I(1) = 0) keeps finite derivatives with the
    // lens on it, where the disk's are infinite.
    const double d_l = ((reference == 0.0 ? 0.0 : reference * disk.d_l) + sum_l) / flux_;
    // ∂R/∂ρ = −c² ∂R/∂c at fixed l and t.
    const double d_rho_at_l = ((reference == 0.0 ? 0.0 : reference * disk.d_rho) - c_ * c_ * sum_c) / flux_;
    return {value, d_l / rho_, d_rho_at_l - l / rho_ * d_l};
}

}  // namespace caldrith
