// The batch elliptic integrals of one vector path (compiled once per path):
// the lanes of the common path from elliptic_lanes.hpp, every other argument,
// and every non-finite result, by the scalar functions.
#include <algorithm>
#include <cstddef>

#include "kernels/elliptic.hpp"
#include "kernels/elliptic_batch.hpp"
#include "kernels/simd/elliptic_lanes.hpp"

namespace caldrith::simd::CALDRITH_SIMD_PATH {
namespace {

// Writes the lanes [0, count) of a block: `value` where `served` and finite,
// the scalar result `finish(lane)` elsewhere.
template <class Finish>
void write_block(Outcome<double>* result, std::size_t count, M served, V value, Finish&& finish) {
    const unsigned ok = bits(served & is_finite(value));
    for (std::size_t lane = 0; lane < count; ++lane) {
        result[lane] = (ok >> lane & 1u) != 0 ? Outcome<double>(value[lane]) : finish(lane);
    }
}

template <class Serves, class Lanes, class Scalar>
void one_argument(std::span<const double> m, std::span<Outcome<double>> result, Serves serves, Lanes lanes,
                  Scalar scalar) {
    for (std::size_t i = 0; i < m.size(); i += WIDTH) {
        const std::size_t count = std::min<std::size_t>(WIDTH, m.size() - i);
        const V mv = load_first(&m[i], count, 0.5);
        const M served = serves(mv);
        const V value = lanes(mv, served);
        write_block(&result[i], count, served, value, [&](std::size_t lane) { return scalar(m[i + lane]); });
    }
}

void ellipk_batch(std::span<const double> m, std::span<Outcome<double>> result) {
    one_argument(
        m, result, [](V mv) { return elliptic_lanes::ellipk_serves(mv); },
        [](V mv, M served) { return elliptic_lanes::ellipk(mv, served); }, [](double x) { return ellipk(x); });
}

void ellipe_batch(std::span<const double> m, std::span<Outcome<double>> result) {
    one_argument(
        m, result, [](V mv) { return elliptic_lanes::ellipe_serves(mv); },
        [](V mv, M served) { return elliptic_lanes::ellipe(mv, served); }, [](double x) { return ellipe(x); });
}

void ellippi_batch(std::span<const double> n, std::span<const double> m, std::span<Outcome<double>> result) {
    for (std::size_t i = 0; i < m.size(); i += WIDTH) {
        const std::size_t count = std::min<std::size_t>(WIDTH, m.size() - i);
        const V nv = load_first(&n[i], count, 0.25);
        const V mv = load_first(&m[i], count, 0.5);
        const M served = elliptic_lanes::ellippi_serves(nv, mv);
        const V value = elliptic_lanes::ellippi(nv, mv, served);
        write_block(&result[i], count, served, value,
                    [&](std::size_t lane) { return ellippi(n[i + lane], m[i + lane]); });
    }
}

}  // namespace

extern const EllipticBatch ELLIPTIC_BATCH{ellipk_batch, ellipe_batch, ellippi_batch};

}  // namespace caldrith::simd::CALDRITH_SIMD_PATH
