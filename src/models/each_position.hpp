// The models' sequential element map: f applied to each position of `l`, one
// after another in index order on the calling thread.
#pragma once

#include <span>
#include <vector>

namespace caldrith {

template <class F>
std::vector<double> each_position(std::span<const double> l, F&& f) {
    std::vector<double> result;
    result.reserve(l.size());
    for (const double position : l) {
        result.push_back(f(position));
    }
    return result;
}

}  // namespace caldrith
