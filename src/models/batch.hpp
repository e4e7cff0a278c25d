// The uniform-disk and thin-ring kernels on many arguments at once, for the
// list maps and the quadrature levels: every result is bit for bit the
// scalar kernel's, on every vector path (see kernels/simd/path.hpp). A batch
// of more than 1024 arguments asks the thread's interruption check after
// every 1024 (common/interruption.hpp).
#pragma once

#include <span>

#include "kernels/simd/path.hpp"

namespace caldrith {

// The near-limb window of the uniform-disk kernel: the standard one of
// witt_mao_magnification_scaled or the narrow one of
// witt_mao_magnification_narrow.
enum class NearLimbWindow { standard, narrow };

struct ModelBatch {
    // result[i] = the uniform-disk kernel at (u[i], rho[i]) with the given
    // window; a `u` or a `rho` of one element serves every result.
    void (*uniform_disk)(std::span<const double> u, std::span<const double> rho, NearLimbWindow window,
                         std::span<double> result);
    // result[i] = heyrovsky_magnification_within(l, r[i], re, rstar,
    // near_ring_window), NaN where that is an error.
    void (*thin_ring)(double l, std::span<const double> r, double re, double rstar, double near_ring_window,
                      std::span<double> result);
};

// The batch kernels of one runnable path, and those of the process's path.
const ModelBatch& model_batch(SimdPath path);
const ModelBatch& model_batch();

}  // namespace caldrith
