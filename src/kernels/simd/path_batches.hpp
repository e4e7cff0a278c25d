// The table of batch functions a process uses, among one per vector path:
// each path's copy of a source (compiled once per path) defines its table as
// `extern const Type Name{...}` in caldrith::simd::<path>; a source that
// picks among them declares them with CALDRITH_PATH_BATCHES(Type, Name) in
// namespace caldrith and picks with CALDRITH_PATH_BATCH(path, scalar, Name).
#pragma once

#include <type_traits>

#include "kernels/simd/path.hpp"

namespace caldrith {

template <class Batch>
const Batch& path_batch(SimdPath path, const Batch& scalar, const Batch* sse2, const Batch* avx2,
                        const Batch* avx512) {
    switch (path) {
        case SimdPath::sse2: return sse2 != nullptr ? *sse2 : scalar;
        case SimdPath::avx2: return avx2 != nullptr ? *avx2 : scalar;
        case SimdPath::avx512: return avx512 != nullptr ? *avx512 : scalar;
        default: return scalar;
    }
}

}  // namespace caldrith

#if defined(CALDRITH_X86_SIMD_PATHS)
#define CALDRITH_PATH_BATCHES(Type, Name) \
    namespace simd::sse2 {                \
    extern const Type Name;               \
    }                                     \
    namespace simd::avx2 {                \
    extern const Type Name;               \
    }                                     \
    namespace simd::avx512 {              \
    extern const Type Name;               \
    }
#define CALDRITH_PATH_BATCH(path, scalar, Name) \
    ::caldrith::path_batch(path, scalar, &simd::sse2::Name, &simd::avx2::Name, &simd::avx512::Name)
#else
#define CALDRITH_PATH_BATCHES(Type, Name)
#define CALDRITH_PATH_BATCH(path, scalar, Name) \
    ::caldrith::path_batch<std::remove_cvref_t<decltype(scalar)>>(path, scalar, nullptr, nullptr, nullptr)
#endif
