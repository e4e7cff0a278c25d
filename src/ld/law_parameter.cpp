#include "ld/law_parameter.hpp"

#include <cstdio>
#include <iterator>
#include <string>

#include "lib/conversion.hpp"
#include "lib/owned_ref.hpp"

namespace caldrith {
namespace {

// The law kinds in the order of caldrith_ld's law classes.
constexpr LawKind KINDS[] = {LawKind::uniform,     LawKind::linear, LawKind::quadratic,      LawKind::square_root,
                             LawKind::logarithmic, LawKind::power2, LawKind::four_parameter, LawKind::sampled};

PyResult<std::unique_ptr<LimbDarkeningLaw>> convert_law(PyObject* description) {
    if (!PyTuple_Check(description) || PyTuple_Size(description) != 4) {
        return Unexpected{PythonError::lazy(PyExc_TypeError, "a law is described by (kind, coefficients, radius, intensity)")};
    }
    const long kind = PyLong_AsLong(PyTuple_GetItem(description, 0));
    if (kind == -1 && PyErr_Occurred() != nullptr) {
        return Unexpected{fetch_error()};
    }
    std::vector<double> parts[3];
    for (int i = 0; i < 3; ++i) {
        auto values = extract_sequence(PyTuple_GetItem(description, i + 1));
        if (!values) {
            return Unexpected{std::move(values).error()};
        }
        parts[i] = std::move(*values);
    }
    return make_law(kind, std::move(parts[0]), std::move(parts[1]), std::move(parts[2]));
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

}  // namespace

PyResult<LawKind> law_kind(long kind) {
    if (kind < 0 || kind >= static_cast<long>(std::size(KINDS))) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "kind: no such law")};
    }
    return KINDS[kind];
}

PyResult<std::unique_ptr<LimbDarkeningLaw>> make_law(long kind_number, std::vector<double> coefficients,
                                                     std::vector<double> radius, std::vector<double> intensity) {
    auto known = law_kind(kind_number);
    if (!known) {
        return Unexpected{std::move(known).error()};
    }
    const LawKind kind = *known;
    if (kind == LawKind::sampled) {
        if (LawCheck checked = check_samples(radius, intensity); !checked) {
            return Unexpected{law_error(checked.error())};
        }
        return std::make_unique<LimbDarkeningLaw>(std::move(radius), std::move(intensity));
    }
    if (coefficients.size() != coefficient_count(kind)) {
        return Unexpected{PythonError::lazy(PyExc_ValueError, "coefficients: not as many as the law has")};
    }
    if (LawCheck checked = check_law(kind, coefficients); !checked) {
        return Unexpected{law_error(checked.error())};
    }
    return std::make_unique<LimbDarkeningLaw>(kind, coefficients);
}

PyResult<LawsParameter::type> LawsParameter::convert(PyObject* object, const char* parameter) {
    const Py_ssize_t count = PySequence_Check(object) ? PySequence_Size(object) : -1;
    if (count < 1) {
        PyErr_Clear();
        return Unexpected{PythonError::lazy(PyExc_TypeError, std::string(parameter) + ": a non-empty sequence of laws")};
    }
    type laws;
    for (Py_ssize_t i = 0; i < count; ++i) {
        OwnedRef description = OwnedRef::steal(PySequence_GetItem(object, i));
        if (!description) {
            return Unexpected{argument_extraction_error(fetch_error(), parameter)};
        }
        auto law = convert_law(description.get());
        if (!law) {
            return Unexpected{argument_extraction_error(std::move(law).error(), parameter)};
        }
        laws.push_back(std::move(*law));
    }
    return laws;
}

}  // namespace caldrith
