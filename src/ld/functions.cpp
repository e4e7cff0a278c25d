#include "ld/functions.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "ld/without_interpreter_lock.hpp"
#include "models/limb_darkened.hpp"
#include "pool/parallel_map.hpp"

namespace caldrith {
namespace {

// The law kinds in the order of caldrith_ld's law classes.
constexpr LawKind KINDS[] = {LawKind::uniform,     LawKind::linear, LawKind::quadratic,      LawKind::square_root,
                             LawKind::logarithmic, LawKind::power2, LawKind::four_parameter, LawKind::sampled};

PyResult<LawKind> law_kind(long kind) {
    if (kind < 0 || kind >= static_cast<long>(std::size(KINDS))) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "kind: no such law")};
    }
    return KINDS[kind];
}

// The ValueError of a law that breaks the rules, with where its intensity is
// lowest if it is negative somewhere.
PythonError law_error(const LawFault& fault) {
    std::string message = fault.message;
    if (fault.lowest) {
        char where[96];
        std::snprintf(where, sizeof where, " at μ = %.6g (%.3g); a law must be ≥ 0 on 0 ≤ μ ≤ 1", fault.lowest->mu,
                      fault.lowest->intensity);
        message += where;
    }
    return PythonError::lazy(PyExc_ValueError, std::move(message));
}

// The law of a call, checked by the rules of limb_darkening_law.hpp on
// every call, whatever the Python layer checked when the law was made.
PyResult<std::unique_ptr<LimbDarkeningLaw>> make_law(long kind_number, std::vector<double> coefficients,
                                                     std::vector<double> radius, std::vector<double> intensity) {
    auto kind = law_kind(kind_number);
    if (!kind) {
        return Unexpected{std::move(kind).error()};
    }
    if (*kind == LawKind::sampled) {
        if (LawCheck checked = check_samples(radius, intensity); !checked) {
            return Unexpected{law_error(checked.error())};
        }
        return std::make_unique<LimbDarkeningLaw>(std::move(radius), std::move(intensity));
    }
    if (coefficients.size() != coefficient_count(*kind)) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "coefficients: not as many as the law has")};
    }
    if (LawCheck checked = check_law(*kind, coefficients); !checked) {
        return Unexpected{law_error(checked.error())};
    }
    return std::make_unique<LimbDarkeningLaw>(*kind, coefficients);
}

PyResult<Done> same_length(const PinnedArray& in, const PinnedArray& out) {
    if (in.values().size() != out.values().size()) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "out: not as long as the input")};
    }
    return Done{};
}

}  // namespace

PyResult<Done> ld_magnification(PinnedArray u, PinnedArray out, double rho, long kind,
                                std::vector<double> coefficients, std::vector<double> radius,
                                std::vector<double> intensity) {
    if (auto checked = same_length(u, out); !checked) {
        return checked;
    }
    if (!(rho > 0.0 && rho <= LARGEST_RHO)) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "rho must be positive and at most 1e30 (Einstein radii)")};
    }
    auto law = make_law(kind, std::move(coefficients), std::move(radius), std::move(intensity));
    if (!law) {
        return Unexpected{std::move(law).error()};
    }
    const WithoutInterpreterLock released;
    const LimbDarkenedStar star(rho, **law);
    const std::vector<double> values = parallel_map(u.values(), star);
    std::copy(values.begin(), values.end(), out.writable_values().begin());
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
