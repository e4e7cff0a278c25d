#include "kernels/interp.hpp"

namespace caldrith {

PiecewiseLinear::PiecewiseLinear(std::span<const double> x, std::span<const double> y)
    : x_(x), y_(y.first(std::min(x.size(), y.size()))) {
    const std::size_t n = y_.size();
    if (n < 2) {
        return;
    }
    segments_.reserve(n - 1);
    for (std::size_t j = 0; j + 1 < n; ++j) {
        const double dx = x[j + 1] - x[j];
        const double dy = y[j + 1] - y[j];
        const double slope = dy / dx;
        segments_.push_back({slope, y[j] - (x[j] * slope)});
    }
}

double interp(std::span<const double> x, std::span<const double> y, double xp, double outside) {
    return PiecewiseLinear(x, y)(xp, outside);
}

}  // namespace caldrith
