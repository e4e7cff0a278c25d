// The batch elliptic integrals against the scalar ones, bit for bit, on every
// vector path this machine runs: a million arguments per integral and path,
// random over every branch plus the edge cases (NaN, infinities, signed
// zeros, subnormals, the ends of the polynomial intervals, m and n next to 1,
// negative n, n = m).
#include <doctest/doctest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kernels/elliptic.hpp"
#include "kernels/elliptic_batch.hpp"
#include "batch_inputs.hpp"

using caldrith::EllipticBatch;
using caldrith::Outcome;
using caldrith::SimdPath;

namespace {

constexpr std::size_t COUNT = 1'000'000;

std::string describe(const Outcome<double>& outcome) {
    if (!outcome) {
        return std::string("error ") + outcome.error();
    }
    return "value " + batch_inputs::hex(*outcome);
}

// Index of the first result that differs from the scalar one, or -1.
long first_difference(const std::vector<Outcome<double>>& batch, const std::vector<Outcome<double>>& scalar) {
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (describe(batch[i]) != describe(scalar[i])) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

void check_paths(const std::vector<double>& n, const std::vector<double>& m, bool characteristic,
                 void (*EllipticBatch::*kernel)(std::span<const double>, std::span<Outcome<double>>)) {
    std::vector<Outcome<double>> scalar(m.size(), Outcome<double>(0.0));
    for (std::size_t i = 0; i < m.size(); ++i) {
        scalar[i] = characteristic ? caldrith::ellippi(n[i], m[i])
                                   : (kernel == &EllipticBatch::ellipk ? caldrith::ellipk(m[i])
                                                                       : caldrith::ellipe(m[i]));
    }
    for (const SimdPath path : caldrith::runnable_simd_paths()) {
        CAPTURE(caldrith::simd_path_name(path));
        const EllipticBatch& batch = caldrith::elliptic_batch(path);
        // Batches of every length up to a few vectors and one long batch, so
        // that partial blocks meet every lane position.
        std::vector<Outcome<double>> result(m.size(), Outcome<double>(0.0));
        std::size_t offset = 0;
        for (std::size_t length = 1; offset < m.size(); length = length % 19 + 1) {
            const std::size_t take = std::min(length == 19 ? std::size_t{4096} : length, m.size() - offset);
            const std::span<const double> ms(m.data() + offset, take);
            const std::span<Outcome<double>> out(result.data() + offset, take);
            if (characteristic) {
                batch.ellippi(std::span<const double>(n.data() + offset, take), ms, out);
            } else {
                (batch.*kernel)(ms, out);
            }
            offset += take;
        }
        const long at = first_difference(result, scalar);
        if (at >= 0) {
            CAPTURE(batch_inputs::hex(n[at]));
            CAPTURE(batch_inputs::hex(m[at]));
            CHECK(describe(result[at]) == describe(scalar[at]));
        }
        CHECK(at == -1);
    }
}

}  // namespace

TEST_CASE("batch K and E equal the scalar integrals bit for bit on every path") {
    const std::vector<double> m = batch_inputs::parameters(COUNT, 11);
    SUBCASE("K") { check_paths(m, m, false, &EllipticBatch::ellipk); }
    SUBCASE("E") { check_paths(m, m, false, &EllipticBatch::ellipe); }
}

TEST_CASE("batch Π equals the scalar integral bit for bit on every path") {
    const std::vector<double> m = batch_inputs::parameters(COUNT, 12);
    const std::vector<double> n = batch_inputs::characteristics(m, 13);
    check_paths(n, m, true, nullptr);
}

TEST_CASE("the process path is a runnable one, and the environment can name it") {
    const auto runnable = caldrith::runnable_simd_paths();
    REQUIRE_FALSE(runnable.empty());
    CHECK(runnable.front() == SimdPath::scalar);
    bool found = false;
    for (const SimdPath path : runnable) {
        found = found || path == caldrith::simd_path();
        CHECK(caldrith::simd_path_named(caldrith::simd_path_name(path)) == path);
    }
    CHECK(found);
    CHECK_FALSE(caldrith::simd_path_named("avx1024").has_value());
}
