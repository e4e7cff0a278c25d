// The tabulated series of small stars against closed forms: the uniform
// disk's leading term 4E(z²)/π (and its form outside), the hemisphere μ's
// polynomial inside the star, and every basis continuous across the mesh's
// interval ends.
#include <doctest/doctest.h>

#include <cmath>
#include <vector>

#include "kernels/elliptic.hpp"
#include "models/star_series.hpp"

using caldrith::BasisWeights;
using caldrith::MeshPoint;
using caldrith::StarBasis;

namespace {

constexpr double PI = 3.141592653589793;
const std::vector<double> LEADING_ORDER{1.0};

double leading(StarBasis basis, double z) {
    return caldrith::basis_series(basis, LEADING_ORDER, caldrith::locate_on_mesh(z));
}

}  // namespace

TEST_CASE("the leading order of the uniform disk and of mu against their closed forms") {
    for (const double z : {0.0, 1e-7, 0.1, 0.49, 0.5, 0.73, 0.999, 1.0 - 1e-9, 1.0 - 1e-13, 1.0, 1.0 + 1e-13,
                           1.0 + 1e-9, 1.001, 1.3, 1.99, 2.0, 2.5, 3.7, 4.0}) {
        CAPTURE(z);
        double disk;
        if (z <= 1.0) {
            disk = 4.0 * caldrith::ellipe(z * z).value() / PI;
            CHECK(leading(StarBasis::mu, z) == doctest::Approx(PI * (2.0 - z * z) / 4.0).epsilon(1e-13));
        } else {
            const double m = 1.0 / (z * z);
            disk = 4.0 * z * (caldrith::ellipe(m).value() - (1.0 - m) * caldrith::ellipk(m).value()) / PI;
        }
        CHECK(leading(StarBasis::uniform, z) == doctest::Approx(disk).epsilon(1e-13));
    }
}

TEST_CASE("every basis is continuous across the ends of the mesh's intervals") {
    const std::vector<double> weights = caldrith::series_order_weights(0.1);
    std::vector<double> ends{0.5, 1.0, 1.5, 2.0, 3.0};
    for (int k = 1; k <= 40; ++k) {
        ends.push_back(1.0 - std::ldexp(1.0, -k));
        ends.push_back(1.0 + std::ldexp(1.0, -k));
        if (k <= 20) {
            ends.push_back(std::ldexp(1.0, -k));
        }
    }
    for (const double end : ends) {
        // The intervals on either side of the end, each at its own end there.
        const MeshPoint above = caldrith::locate_on_mesh(std::nextafter(end, 5.0));
        const MeshPoint below = caldrith::locate_on_mesh(std::nextafter(end, 0.0));
        CAPTURE(end);
        REQUIRE(above.interval == below.interval + 1);
        const MeshPoint at{above.interval, -1.0, above.ds_dz};
        const MeshPoint below_end{below.interval, 1.0, below.ds_dz};
        for (std::size_t b = 0; b < caldrith::STAR_BASES; ++b) {
            CAPTURE(b);
            const auto basis = static_cast<StarBasis>(b);
            const double here = caldrith::basis_series(basis, weights, at);
            CHECK(caldrith::basis_series(basis, weights, below_end) == doctest::Approx(here).epsilon(1e-12));
        }
    }
}
