// Nanoseconds per evaluation of the kernels, the scalar code element by
// element against the batch kernels of every vector path this machine runs.
// Built with the C++ tests (CALDRITH_BUILD_TESTS); bench/batch.py runs it.
//
//   uniform disk: u = l ρ for l uniform in [0, 3], ρ = 0.05 (the positions of
//                 bench/uniform_disk.py), and the disks of the limb-darkened
//                 integral of one position (ρ' = ρ √(1 − t²) at quadrature nodes)
//   thin ring:    the rings t in (0, 1) of a lens at l = 0.5, re = 1, rstar = 0.05
//   K, E, Π:      the arguments (m, n) that the uniform-disk positions produce
#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "fastest.hpp"
#include "kernels/elliptic_batch.hpp"
#include "models/batch.hpp"

namespace {

constexpr std::size_t COUNT = 200'000;
constexpr int ROUNDS = 5;
constexpr std::size_t BLOCK = 256;  // the batch length of the models' callers

template <class Batch>
void in_blocks(std::size_t total, Batch&& batch) {
    for (std::size_t offset = 0; offset < total; offset += BLOCK) {
        batch(offset, std::min(BLOCK, total - offset));
    }
}

}  // namespace

int main() {
    std::mt19937_64 random(1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double rho = 0.05;
    std::vector<double> u(COUNT), rho_disks(COUNT), u_disks(COUNT), rings(COUNT), out(COUNT);
    std::vector<double> n(COUNT), m(COUNT);
    for (std::size_t i = 0; i < COUNT; ++i) {
        u[i] = 3.0 * unit(random) * rho;
        const double t = unit(random);
        rho_disks[i] = rho * std::sqrt(1.0 - t * t);
        u_disks[i] = 0.5 * rho;
        rings[i] = unit(random);
        const double s = rho + u[i];
        const double d = u[i] - rho;
        n[i] = (4.0 * rho * u[i]) / (s * s);
        const double k = std::sqrt(4.0 * n[i]) / std::sqrt(d * d + 4.0);
        m[i] = k * k;
    }
    std::vector<caldrith::Outcome<double>> outcomes(COUNT, caldrith::Outcome<double>(0.0));
    const std::vector<double> one_rho{rho};

    std::printf("kernel ns/eval (thread time, fastest of %d runs of %zu evaluations, batches of %zu)\n", ROUNDS, COUNT, BLOCK);
    std::printf("%-34s", "kernel");
    for (const caldrith::SimdPath path : caldrith::runnable_simd_paths()) {
        std::printf("%10s", std::string(caldrith::simd_path_name(path)).c_str());
    }
    std::printf("\n");
    auto row = [&](const char* name, auto&& run_on_path) {
        std::printf("%-34s", name);
        for (const caldrith::SimdPath path : caldrith::runnable_simd_paths()) {
            std::printf("%10.1f", fastest_per_element(ROUNDS, COUNT, [&] { run_on_path(path); }));
        }
        std::printf("\n");
    };
    using caldrith::NearLimbWindow;
    row("uniform disk, list positions", [&](caldrith::SimdPath path) {
        in_blocks(COUNT, [&](std::size_t i, std::size_t k) {
            caldrith::model_batch(path).uniform_disk({&u[i], k}, one_rho, NearLimbWindow::standard, {&out[i], k});
        });
    });
    row("uniform disk, limb-darkening disks", [&](caldrith::SimdPath path) {
        in_blocks(COUNT, [&](std::size_t i, std::size_t k) {
            caldrith::model_batch(path).uniform_disk({&u_disks[i], k}, {&rho_disks[i], k}, NearLimbWindow::standard,
                                                     {&out[i], k});
        });
    });
    row("thin ring", [&](caldrith::SimdPath path) {
        in_blocks(COUNT, [&](std::size_t i, std::size_t k) {
            caldrith::model_batch(path).thin_ring(0.5, {&rings[i], k}, 1.0, 0.05, 1e-5, {&out[i], k});
        });
    });
    row("K", [&](caldrith::SimdPath path) {
        in_blocks(COUNT, [&](std::size_t i, std::size_t k) {
            caldrith::elliptic_batch(path).ellipk({&m[i], k}, {&outcomes[i], k});
        });
    });
    row("E", [&](caldrith::SimdPath path) {
        in_blocks(COUNT, [&](std::size_t i, std::size_t k) {
            caldrith::elliptic_batch(path).ellipe({&m[i], k}, {&outcomes[i], k});
        });
    });
    row("Pi", [&](caldrith::SimdPath path) {
        in_blocks(COUNT, [&](std::size_t i, std::size_t k) {
            caldrith::elliptic_batch(path).ellippi({&n[i], k}, {&m[i], k}, {&outcomes[i], k});
        });
    });
    return 0;
}
