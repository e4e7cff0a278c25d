// The ring means of ring_mean.hpp on one vector path (compiled once per
// path): the formula of point_lens_means.hpp on lanes, and on jets of lanes
// for the derivatives.
#include <cstddef>

#include "kernels/jet.hpp"
#include "kernels/simd/lanes.hpp"
#include "models/point_lens_means.hpp"
#include "models/ring_mean.hpp"

namespace caldrith::simd::CALDRITH_SIMD_PATH {
namespace {

struct LaneOps {
    using Mask = M;
    static V sqrt(V x) { return simd::CALDRITH_SIMD_PATH::sqrt(x); }
    static V abs(V x) { return simd::CALDRITH_SIMD_PATH::abs(x); }
    // A NaN lane is never close: the cel's step cap ends its loop.
    static M close(V x, V y, double tolerance) { return simd::CALDRITH_SIMD_PATH::abs(x - y) <= x * tolerance; }
    static M none(V) { return M{}; }
    static M either(M a, M b) { return a | b; }
    static bool all(M mask) { return bits(mask) == (1u << WIDTH) - 1; }
    static V select(M mask, V x, V y) { return simd::CALDRITH_SIMD_PATH::select(mask, x, y); }
};

using Jet2 = Jet<V, 2>;
using Jet2Ops = JetOps<LaneOps, V, 2>;

// The lanes [i, i + WIDTH) of a batch, the last block padded with a harmless
// ring (t = 2l + 1, away from the lens).
struct Block {
    std::size_t count;
    V t;
    V gap;
};

Block block(double l, std::span<const double> t, std::span<const double> gap, std::size_t i) {
    const std::size_t count = std::min<std::size_t>(WIDTH, t.size() - i);
    return {count, load_first(t.data() + i, count, 2.0 * l + 1.0), load_first(gap.data() + i, count, l + 1.0)};
}

void store(V v, double* out, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k) out[k] = v[k];
}

void values(double l, double c, std::span<const double> t, std::span<const double> gap, std::span<double> value) {
    const V lv = splat(l);
    const V cv = splat(c);
    for (std::size_t i = 0; i < t.size(); i += WIDTH) {
        const Block b = block(l, t, gap, i);
        store(ring_mean_formula<LaneOps>(lv, b.t, b.gap, cv), value.data() + i, b.count);
    }
}

void with_derivatives(double l, double c, std::span<const double> t, std::span<const double> gap,
                      std::span<double> value, std::span<double> d_l, std::span<double> d_c) {
    const V zero = splat(0.0);
    const V one = splat(1.0);
    const Jet2 lj{splat(l), {one, zero}};
    const Jet2 cj{splat(c), {zero, one}};
    for (std::size_t i = 0; i < t.size(); i += WIDTH) {
        const Block b = block(l, t, gap, i);
        const Jet2 ring = ring_mean_formula<Jet2Ops>(lj, Jet2{b.t, {zero, zero}}, Jet2{b.gap, {-one, zero}}, cj);
        store(ring.v, value.data() + i, b.count);
        store(ring.d[0], d_l.data() + i, b.count);
        store(ring.d[1], d_c.data() + i, b.count);
    }
}

}  // namespace

extern const RingMeanBatch RING_MEAN_BATCH{values, with_derivatives};

}  // namespace caldrith::simd::CALDRITH_SIMD_PATH
