// The calling-thread models ask the caller's interruption check between
// positions (before every one where a position is costly), and stop with
// Interrupted when it asks them to; the batch kernels ask between blocks of
// 1024 arguments of a longer batch.
#include <doctest/doctest.h>

#include <cstddef>
#include <functional>
#include <span>
#include <vector>

#include "common/interruption.hpp"
#include "kernels/simd/path.hpp"
#include "models/batch.hpp"
#include "models/flux_map.hpp"
#include "models/integrated.hpp"

using namespace caldrith;

namespace {

class StopAt final : public InterruptionCheck {
public:
    explicit StopAt(std::size_t question) : stop_at_(question) {}
    bool stop_requested() noexcept override { return ++questions >= stop_at_; }
    std::size_t questions = 0;

private:
    std::size_t stop_at_;
};

const std::vector<double> POSITIONS = {0.2, 0.5, 0.99, 1.0, 1.3, 2.0, 4.0};
const std::vector<double> BL = {0.0, 0.5, 1.0};
const std::vector<double> BF = {1.0, 0.7, 0.2};

using Model = std::function<void(std::span<const double>)>;

// The models that integrate over the star: every position costs many kernel evaluations.
const Model INTEGRATED[] = {
    [](std::span<const double> l) { (void)integrated_witt_mao_magnification(l, 1.0, 0.1); },
    [](std::span<const double> l) { (void)integrated_heyrovsky_magnification(l, 1.0, 0.1); },
    [](std::span<const double> l) { (void)integrated_flux_map_witt_mao_magnification(l, 1.0, 0.1, BL, BF); },
    [](std::span<const double> l) { (void)integrated_flux_map_heyrovsky_magnification(l, 1.0, 0.1, BL, BF); },
};

}  // namespace

TEST_CASE("the integrating models ask before each position and stop when told") {
    for (const Model& model : INTEGRATED) {
        StopAt never(POSITIONS.size() + 1);
        {
            const InterruptionScope scope(never);
            model(POSITIONS);
        }
        CHECK(never.questions == POSITIONS.size());

        StopAt third(3);
        {
            const InterruptionScope scope(third);
            CHECK_THROWS_AS(model(POSITIONS), Interrupted);
        }
        CHECK(third.questions == 3);
        // Outside the scope nothing is asked.
        model(POSITIONS);
        CHECK(third.questions == 3);
    }
}

TEST_CASE("the discrete flux map asks about every 256 rings and stops when told") {
    struct Case {
        std::size_t samples;
        std::size_t positions;
        std::size_t questions;  // ceil(positions / max(1, 256 / (samples + 1)))
    };
    for (const Case c : {Case{0, 1000, 4}, Case{3, 7, 1}, Case{3, 200, 4}, Case{255, 10, 10}, Case{400, 10, 10}}) {
        CAPTURE(c.samples);
        const std::vector<double> l(c.positions, 0.5);
        std::vector<double> bl(c.samples), bf(c.samples, 1.0);
        for (std::size_t j = 0; j < c.samples; ++j) {
            bl[j] = static_cast<double>(j) / static_cast<double>(c.samples);
        }
        StopAt never(c.questions + 1);
        {
            const InterruptionScope scope(never);
            CHECK(discrete_flux_map_heyrovsky_magnification(l, 1.0, 0.1, bl, bf).has_value());
        }
        CHECK(never.questions == c.questions);

        StopAt first(1);
        const InterruptionScope scope(first);
        CHECK_THROWS_AS((void)discrete_flux_map_heyrovsky_magnification(l, 1.0, 0.1, bl, bf), Interrupted);
    }
}

TEST_CASE("the batch kernels ask between blocks of 1024 arguments on every path") {
    // Arguments: the thin ring's radii, the uniform disk's separations.
    const std::vector<double> arguments(2500, 0.3);
    std::vector<double> results(arguments.size());
    for (const SimdPath path : runnable_simd_paths()) {
        CAPTURE(simd_path_name(path));
        const ModelBatch& batch = model_batch(path);
        const double rho = 0.1;
        const std::function<void(std::size_t)> kernels[] = {
            [&](std::size_t n) { batch.thin_ring(0.5, {arguments.data(), n}, 1.0, 0.1, NEAR_RING_WINDOW, {results.data(), n}); },
            [&](std::size_t n) {
                batch.uniform_disk({arguments.data(), n}, {&rho, 1}, NearLimbWindow::standard, {results.data(), n});
            },
        };
        for (const auto& kernel : kernels) {
            for (const auto& [count, questions] : {std::pair<std::size_t, std::size_t>{1024, 0}, {1025, 1}, {2500, 2}}) {
                CAPTURE(count);
                StopAt never(questions + 1);
                {
                    const InterruptionScope scope(never);
                    kernel(count);
                }
                CHECK(never.questions == questions);
            }
            StopAt first(1);
            const InterruptionScope scope(first);
            CHECK_THROWS_AS(kernel(2500), Interrupted);
        }
    }
}
