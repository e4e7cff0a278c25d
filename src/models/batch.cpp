#include "models/batch.hpp"

#include <cstddef>
#include <limits>

#include "common/interruption.hpp"
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

// Arguments between two looks at the thread's interruption check, as on the
// vector paths.
constexpr std::size_t BLOCK = 1024;

const ModelBatch SCALAR{
    [](std::span<const double> u, std::span<const double> rho, NearLimbWindow window, std::span<double> result) {
        const auto kernel =
            window == NearLimbWindow::standard ? witt_mao_magnification_scaled : witt_mao_magnification_narrow;
        in_interruptible_blocks(result.size(), BLOCK, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                result[i] = kernel(u[u.size() == 1 ? 0 : i], rho[rho.size() == 1 ? 0 : i]);
            }
        });
    },
    [](double l, std::span<const double> r, double re, double rstar, double near_ring_window,
       std::span<double> result) {
        in_interruptible_blocks(r.size(), BLOCK, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                const Outcome<double> ring = heyrovsky_magnification_within(l, r[i], re, rstar, near_ring_window);
                result[i] = ring ? *ring : std::numeric_limits<double>::quiet_NaN();
            }
        });
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
