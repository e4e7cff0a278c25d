// The calling-thread models ask the caller's interruption check before every
// position, and stop with Interrupted when it asks them to.
#include <doctest/doctest.h>

#include <cstddef>
#include <functional>
#include <span>
#include <vector>

#include "common/interruption.hpp"
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

const Model MODELS[] = {
    [](std::span<const double> l) { (void)integrated_witt_mao_magnification(l, 1.0, 0.1); },
    [](std::span<const double> l) { (void)integrated_heyrovsky_magnification(l, 1.0, 0.1); },
    [](std::span<const double> l) { (void)integrated_flux_map_witt_mao_magnification(l, 1.0, 0.1, BL, BF); },
    [](std::span<const double> l) { (void)integrated_flux_map_heyrovsky_magnification(l, 1.0, 0.1, BL, BF); },
    [](std::span<const double> l) { (void)discrete_flux_map_heyrovsky_magnification(l, 1.0, 0.1, BL, BF); },
};

}  // namespace

TEST_CASE("every calling-thread model asks before each position and stops when told") {
    for (const Model& model : MODELS) {
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
