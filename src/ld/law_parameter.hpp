// The laws of a call as caldrith_ld's Python layer describes them: a
// sequence of tuples (kind, coefficients, radius, intensity), kind the index
// of the law's class, the three others sequences of numbers (the radius and
// intensity samples of a sampled law, empty otherwise).
#pragma once

#include <memory>
#include <vector>

#include "lib/python_error.hpp"
#include "models/limb_darkening_law.hpp"

namespace caldrith {

struct LawsParameter {
    using type = std::vector<std::unique_ptr<LimbDarkeningLaw>>;
    static PyResult<type> convert(PyObject* object, const char* parameter);
};

// The kind of a law class's index, or a ValueError.
PyResult<LawKind> law_kind(long kind);

// One law from its description, checked by the rules of
// limb_darkening_law.hpp on every call, whatever the Python layer checked
// when the law was made; or a ValueError naming what is wrong.
PyResult<std::unique_ptr<LimbDarkeningLaw>> make_law(long kind, std::vector<double> coefficients,
                                                     std::vector<double> radius, std::vector<double> intensity);

}  // namespace caldrith
