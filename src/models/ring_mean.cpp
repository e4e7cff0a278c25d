#include "models/ring_mean.hpp"

#include <cstddef>

#include "kernels/jet.hpp"
#include "kernels/simd/path_batches.hpp"
#include "models/point_lens_means.hpp"

namespace caldrith {

CALDRITH_PATH_BATCHES(RingMeanBatch, RING_MEAN_BATCH)

namespace {

using Jet2 = Jet<double, 2>;
using Jet2Ops = JetOps<DoubleOps, double, 2>;

const RingMeanBatch SCALAR{
    [](double l, double c, std::span<const double> t, std::span<const double> gap, std::span<double> value) {
        for (std::size_t i = 0; i < t.size(); ++i) {
            value[i] = ring_mean_formula<DoubleOps>(l, t[i], gap[i], c);
        }
    },
    [](double l, double c, std::span<const double> t, std::span<const double> gap, std::span<double> value,
       std::span<double> d_l, std::span<double> d_c) {
        for (std::size_t i = 0; i < t.size(); ++i) {
            const Jet2 ring = ring_mean_formula<Jet2Ops>(Jet2{l, {1.0, 0.0}}, Jet2{t[i], {0.0, 0.0}},
                                                         Jet2{gap[i], {-1.0, 0.0}}, Jet2{c, {0.0, 1.0}});
            value[i] = ring.v;
            d_l[i] = ring.d[0];
            d_c[i] = ring.d[1];
        }
    },
};

}  // namespace

const RingMeanBatch& ring_mean_batch(SimdPath path) { return CALDRITH_PATH_BATCH(path, SCALAR, RING_MEAN_BATCH); }

const RingMeanBatch& ring_mean_batch() {
    static const RingMeanBatch& batch = ring_mean_batch(simd_path());
    return batch;
}

RingMeanDerivatives ring_mean_derivatives(double l, double t, double c) {
    using Jet3 = Jet<double, 3>;
    const Jet3 ring = ring_mean_formula<JetOps<DoubleOps, double, 3>>(
        Jet3{l, {1.0, 0.0, 0.0}}, Jet3{t, {0.0, 1.0, 0.0}}, Jet3{t - l, {-1.0, 1.0, 0.0}}, Jet3{c, {0.0, 0.0, 1.0}});
    return {ring.v, ring.d[0], ring.d[1], ring.d[2]};
}

}  // namespace caldrith
