// The mean point-lens magnification over rings of a star, R(l, t) (see
// point_lens_means.hpp), for the nodes of a quadrature over the star's
// radius: many rings about one lens position l, with the Einstein radius c,
// all in stellar radii. About 1e-15 relative for every ring but the one
// through the lens (t = l exactly, where R is infinite); several times faster
// than the thin-ring kernel of heyrovsky.hpp, whose bits it does not keep.
#pragma once

#include <span>

#include "kernels/simd/path.hpp"

namespace caldrith {

struct RingMeanBatch {
    // value[i] = R(l, t[i]) with t[i] − l = gap[i].
    void (*values)(double l, double c, std::span<const double> t, std::span<const double> gap,
                   std::span<double> value);
    // The same with the derivatives ∂R/∂l and ∂R/∂c at fixed t.
    void (*with_derivatives)(double l, double c, std::span<const double> t, std::span<const double> gap,
                             std::span<double> value, std::span<double> d_l, std::span<double> d_c);
};

// The batches of one runnable path, and those of the process's path.
const RingMeanBatch& ring_mean_batch(SimdPath path);
const RingMeanBatch& ring_mean_batch();

// R and its derivatives in l, t and c at one ring (any path's batch agrees
// with it to a few ulp).
struct RingMeanDerivatives {
    double value;
    double d_l;
    double d_t;
    double d_c;
};
RingMeanDerivatives ring_mean_derivatives(double l, double t, double c);

}  // namespace caldrith
