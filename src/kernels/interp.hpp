// Piecewise-linear interpolation through samples (x[k], y[k]), k < n, with
// n = min(len x, len y) and x ascending. Each segment j is evaluated in
// slope-intercept form,
//
//     m_j = (y[j+1] - y[j]) / (x[j+1] - x[j]),  c_j = y[j] - x[j] m_j,
//     v(xp) = m_j xp + c_j,
//
// so a query at an interior sample x[k] gives m_(k-1) x[k] + c_(k-1), which may
// differ from y[k] in the last bits; the two end samples are returned
// exactly. Queries outside [x[0], x[n-1]] give the caller's outside value.
// Accuracy: one rounded product and sum per query on top of the rounding of
// the slope and intercept; where |c_j| is much larger than |v| the intercept
// form loses the corresponding relative accuracy. Nothing is checked or
// reported: a zero-width segment gets an infinite or NaN slope, which a query
// in range on ascending x never selects.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <vector>

namespace caldrith {

// The interpolant of one sample set, with the slopes and intercepts formed
// once, for evaluation at many points. Keeps views of x and y: the arrays
// must outlive it.
class PiecewiseLinear {
public:
    PiecewiseLinear(std::span<const double> x, std::span<const double> y);

    // The interpolated value at xp; `outside` below x[0] or above x[n-1];
    // 0.0 without samples; y[0] for every xp with one sample.
    double operator()(double xp, double outside) const {
        const std::size_t n = y_.size();
        if (n == 0) {
            return 0.0;
        }
        if (n == 1) {
            return y_[0];
        }
        // Ordered comparisons: a NaN query passes them all and yields NaN.
        if (xp == x_[0]) {
            return y_[0];
        }
        if (xp < x_[0]) {
            return outside;
        }
        if (xp == x_[n - 1]) {
            return y_[n - 1];
        }
        if (xp > x_[n - 1]) {
            return outside;
        }
        const Segment& segment = segments_[segment_index(xp)];
        return segment.slope * xp + segment.intercept;
    }

private:
    struct Segment {
        double slope;
        double intercept;
    };

    // The segment from the last abscissa below xp to the first at or above it:
    // a bisection for the number of entries of x below xp, over the whole of
    // x (also entries beyond the n usable samples), clamped to the last segment.
    std::size_t segment_index(double xp) const {
        std::size_t size = x_.size();
        std::size_t base = 0;
        while (size > 1) {
            const std::size_t half = size / 2;
            const std::size_t mid = base + half;
            if (xp > x_[mid]) {
                base = mid;
            }
            size -= half;
        }
        const std::size_t below = xp > x_[base] ? base + 1 : base;
        const std::size_t previous = below == 0 ? 0 : below - 1;
        return std::min(previous, y_.size() - 2);
    }

    std::span<const double> x_;  // all abscissas
    std::span<const double> y_;  // the n usable ordinates
    std::vector<Segment> segments_;
};

// The piecewise-linear interpolant of (x, y) at xp, see PiecewiseLinear.
double interp(std::span<const double> x, std::span<const double> y, double xp, double outside);

}  // namespace caldrith
