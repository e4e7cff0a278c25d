#include "ld/functions.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>

#include "ld/without_interpreter_lock.hpp"
#include "ld/star_rows.hpp"

namespace caldrith {
namespace {

PyResult<Done> same_length(const PinnedArray& in, const PinnedArray& out) {
    if (in.values().size() != out.values().size()) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "out: not as long as the input")};
    }
    return Done{};
}

// Every law's rows of the positions u into `out` (star_rows.hpp), without
// the interpreter lock; out must hold them all.
PyResult<Done> compute(const PinnedArray& u, const PinnedArray& out, double rho, const LawsParameter::type& laws,
                       bool derivatives) {
    const std::size_t n = u.values().size();
    std::vector<const LimbDarkeningLaw*> pointers;
    std::size_t rows = 0;
    for (const auto& law : laws) {
        pointers.push_back(law.get());
        rows += star_row_count(*law, derivatives);
    }
    if (out.values().size() != n * rows) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, derivatives ? "out: not one row of the input's length "
                                                                            "per law and derivative"
                                                                          : "out: not one row of the input's length "
                                                                            "per law")};
    }
    if (!(rho > 0.0 && rho <= LARGEST_RHO)) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "rho must be positive and at most 1e30 (Einstein radii)")};
    }
    const std::vector<StarColumns> columns = star_rows(out.writable_values().data(), n, pointers, derivatives);
    const WithoutInterpreterLock released;
    compute_star_rows(u.values(), rho, pointers, columns);
    return Done{};
}

}  // namespace

PyResult<Done> ld_magnification(PinnedArray u, PinnedArray out, double rho, LawsParameter::type laws) {
    return compute(u, out, rho, laws, false);
}

PyResult<Done> ld_gradient(PinnedArray u, PinnedArray out, double rho, LawsParameter::type laws) {
    return compute(u, out, rho, laws, true);
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
