// The pieces of the radius t ∈ [0, 1] over which QuadratureStar integrates
// the thin-ring kernel for a lens l stellar radii from the centre, and the
// Gauss–Legendre rule of each piece.
//
// The integrand, (I(t) − I(l)) 2t R(l, t), is analytic but for
//  - the ring through the lens, t = l, where R goes as ln|t − l| (a cut when
//    inside the star; the reference I(l) makes it (t − l) ln|t − l|);
//  - the limb, t = 1, where the closed-form laws go as powers of
//    μ = √(1 − t²) (and the ring through the lens too when l = 1);
//  - the kinks of a sampled law (cuts);
// and, off the pieces, the points t = l ± 2ic where R meets the branch
// points of the point-lens magnification (c the Einstein radius in stellar
// radii: close to the real axis for large stars). A law may cut the star at
// radii of its own too (a sampled law's kinks; see law_on_nodes.hpp). The
// mirror of the ring, t = −l, is singular as well, but the integrand
// vanishes there too (I is even in t) and it matters only for l → 0, where
// the integrand's share near it is of order l²: it asks for no cuts.
//
// At its own ends a piece takes a singularity with a rule whose nodes are
// drawn towards it (kernels/gauss_legendre.hpp). A singular point off a
// piece but close to it slows any rule down, so a piece is cut until every
// such point lies at least its own length away (geometrically, towards a
// point near one of its ends: the generator of the truths does the same).
#pragma once

#include <array>
#include <cstddef>
#include <span>

#include "kernels/gauss_legendre.hpp"

namespace caldrith {

// What the pieces of a star depend on besides l.
struct StarShape {
    double c;                        // the Einstein radius, in stellar radii: 1/ρ
    bool powers_at_limb;             // a closed-form law, with powers of μ at the limb
    std::span<const double> cuts;    // the law's, ascending, strictly inside (0, 1)
    std::size_t cut_nodes;           // the fewest nodes of a piece below the law's last cut
};

struct StarPiece {
    double lo;
    double hi;
    const QuadratureNode* nodes;  // the rule, `count` nodes on [0, 1]
    std::size_t count;
    bool ring_at_lo;  // lo = l: the ring through the lens
    bool ring_at_hi;  // hi = l

    std::span<const QuadratureNode> rule() const noexcept { return {nodes, count}; }
};

// The most pieces of a lens position (a ring within 1e-15 of the limb or of
// a kink, a large star and a concentrated law at once stay well below);
// beyond it the last pieces are left uncut.
inline constexpr std::size_t MAX_STAR_PIECES = 160;

class StarPieces {
public:
    // The pieces for a lens l ≥ 0 stellar radii from the centre.
    StarPieces(const StarShape& shape, double l);

    std::span<const StarPiece> pieces() const noexcept { return {pieces_.data(), count_}; }
    std::size_t node_count() const noexcept { return nodes_; }

private:
    void add(double lo, double hi, int order_lo, int order_hi, double radius);

    // Left uninitialised beyond count_ (a piece is trivially constructible).
    std::array<StarPiece, MAX_STAR_PIECES> pieces_;
    std::size_t count_ = 0;
    std::size_t nodes_ = 0;
    double l_;
    double cuts_end_;
    std::size_t cut_nodes_;
};

}  // namespace caldrith
