#include "kernels/elliptic_batch.hpp"

#include <cstddef>

#include "kernels/elliptic.hpp"

namespace caldrith {

#if defined(CALDRITH_X86_SIMD_PATHS)
namespace simd::sse2 {
extern const EllipticBatch ELLIPTIC_BATCH;
}
namespace simd::avx2 {
extern const EllipticBatch ELLIPTIC_BATCH;
}
namespace simd::avx512 {
extern const EllipticBatch ELLIPTIC_BATCH;
}
#endif

namespace {

const EllipticBatch SCALAR{
    [](std::span<const double> m, std::span<Outcome<double>> result) {
        for (std::size_t i = 0; i < m.size(); ++i) result[i] = ellipk(m[i]);
    },
    [](std::span<const double> m, std::span<Outcome<double>> result) {
        for (std::size_t i = 0; i < m.size(); ++i) result[i] = ellipe(m[i]);
    },
    [](std::span<const double> n, std::span<const double> m, std::span<Outcome<double>> result) {
        for (std::size_t i = 0; i < m.size(); ++i) result[i] = ellippi(n[i], m[i]);
    },
};

}  // namespace

const EllipticBatch& elliptic_batch(SimdPath path) {
    switch (path) {
#if defined(CALDRITH_X86_SIMD_PATHS)
        case SimdPath::sse2:
            return simd::sse2::ELLIPTIC_BATCH;
        case SimdPath::avx2:
            return simd::avx2::ELLIPTIC_BATCH;
        case SimdPath::avx512:
            return simd::avx512::ELLIPTIC_BATCH;
#endif
        default:
            return SCALAR;
    }
}

}  // namespace caldrith
