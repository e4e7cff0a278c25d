// The models' sequential element map: f applied to each position of `l`, one
// after another in index order on the calling thread. Before each position it
// asks whether the caller wants the computation stopped (Interrupted).
#pragma once

#include <span>
#include <vector>

#include "common/interruption.hpp"

namespace caldrith {

template <class F>
std::vector<double> each_position(std::span<const double> l, F&& f) {
    std::vector<double> result;
    result.reserve(l.size());
    for (const double position : l) {
        throw_if_interrupted();
        result.push_back(f(position));
    }
    return result;
}

}  // namespace caldrith
