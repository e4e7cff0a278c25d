#include "models/batch.hpp"

#include <cstddef>
#include <limits>

#include "models/heyrovsky.hpp"
#include "models/witt_mao.hpp"

namespace caldrith {

#if defined(CALDRITH_X86_SIMD_PATHS)
namespace simd::sse2 {
extern const ModelBatch MODEL_BATCH;
}
namespace simd::avx2 {
extern const ModelBatch MODEL_BATCH;
}
namespace simd::avx512 {
extern const ModelBatch MODEL_BATCH;
}
#endif

namespace {

const ModelBatch SCALAR{
    [](std::span<const double> u, std::span<const double> rho, NearLimbWindow window, std::span<double> result) {
        const auto kernel =
            window == NearLimbWindow::standard ? witt_mao_magnification_scaled : witt_mao_magnification_narrow;
        for (std::size_t i = 0; i < result.size(); ++i) {
            result[i] = kernel(u[u.size() == 1 ? 0 : i], rho[rho.size() == 1 ? 0 : i]);
        }
    },
    [](double l, std::span<const double> r, double re, double rstar, double near_ring_window,
       std::span<double> result) {
        for (std::size_t i = 0; i < r.size(); ++i) {
            const Outcome<double> ring = heyrovsky_magnification_within(l, r[i], re, rstar, near_ring_window);
            result[i] = ring ? *ring : std::numeric_limits<double>::quiet_NaN();
        }
    },
};

}  // namespace

const ModelBatch& model_batch(SimdPath path) {
    switch (path) {
#if defined(CALDRITH_X86_SIMD_PATHS)
        case SimdPath::sse2:
            return simd::sse2::MODEL_BATCH;
        case SimdPath::avx2:
            return simd::avx2::MODEL_BATCH;
        case SimdPath::avx512:
            return simd::avx512::MODEL_BATCH;
#endif
        default:
            return SCALAR;
    }
}

const ModelBatch& model_batch() {
    static const ModelBatch& batch = model_batch(simd_path());
    return batch;
}

}  // namespace caldrith
