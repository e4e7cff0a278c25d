#include "ld/functions.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "ld/without_interpreter_lock.hpp"
#include "models/limb_darkened.hpp"
#include "pool/parallel_map.hpp"

namespace caldrith {
namespace {

PyResult<Done> same_length(const PinnedArray& in, const PinnedArray& out) {
    if (in.values().size() != out.values().size()) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "out: not as long as the input")};
    }
    return Done{};
}

PyResult<Done> valid_radius(double rho) {
    if (!(rho > 0.0 && rho <= LARGEST_RHO)) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "rho must be positive and at most 1e30 (Einstein radii)")};
    }
    return Done{};
}

// The star's positions u into the columns, without the interpreter lock, on
// the worker pool for long arrays.
void compute(const PinnedArray& u, double rho, const LawsParameter::type& laws, std::span<const StarColumns> columns) {
    std::vector<const LimbDarkeningLaw*> pointers;
    for (const auto& law : laws) {
        pointers.push_back(law.get());
    }
    const WithoutInterpreterLock released;
    const LimbDarkenedStars stars(rho, pointers, columns);
    parallel_chunks(u.values(), stars);
}

}  // namespace

PyResult<Done> ld_magnification(PinnedArray u, PinnedArray out, double rho, LawsParameter::type laws) {
    const std::size_t n = u.values().size();
    if (out.values().size() != n * laws.size()) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "out: not one row of the input's length per law")};
    }
    if (auto checked = valid_radius(rho); !checked) {
        return checked;
    }
    std::vector<StarColumns> columns;
    for (std::size_t k = 0; k < laws.size(); ++k) {
        columns.push_back({out.writable_values().data() + k * n});
    }
    compute(u, rho, laws, columns);
    return Done{};
}

PyResult<Done> ld_gradient(PinnedArray u, PinnedArray out, double rho, LawsParameter::type laws) {
    const std::size_t n = u.values().size();
    std::size_t rows = 0;
    for (const auto& law : laws) {
        rows += 3 + law->parameter_count();
    }
    if (out.values().size() != n * rows) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "out: not one row of the input's length per law "
                                                              "and derivative")};
    }
    if (auto checked = valid_radius(rho); !checked) {
        return checked;
    }
    std::vector<StarColumns> columns;
    double* row = out.writable_values().data();
    auto next_row = [&] { return std::exchange(row, row + n); };
    for (const auto& law : laws) {
        StarColumns& c = columns.emplace_back(StarColumns{next_row()});
        c.d_u = next_row();
        c.d_rho = next_row();
        for (std::size_t j = 0; j < law->parameter_count(); ++j) {
            c.d_parameters.push_back(next_row());
        }
    }
    compute(u, rho, laws, columns);
    return Done{};
}

PyResult<Done> ld_intensity(PinnedArray mu, PinnedArray out, long kind, std::vector<double> coefficients,
                            std::vector<double> radius, std::vector<double> intensity) {
    if (auto checked = same_length(mu, out); !checked) {
        return checked;
    }
    auto law = make_law(kind, std::move(coefficients), std::move(radius), std::move(intensity));
    if (!law) {
        return Unexpected{std::move(law).error()};
    }
    const std::span<const double> in = mu.values();
    const std::span<double> values = out.writable_values();
    for (std::size_t i = 0; i < in.size(); ++i) {
        values[i] = (*law)->at_mu(in[i]);
    }
    return Done{};
}

PyResult<Done> ld_check_law(long kind, std::vector<double> coefficients, std::vector<double> radius,
                            std::vector<double> intensity) {
    auto law = make_law(kind, std::move(coefficients), std::move(radius), std::move(intensity));
    if (!law) {
        return Unexpected{std::move(law).error()};
    }
    return Done{};
}

}  // namespace caldrith
