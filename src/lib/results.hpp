// Python results from the models' values: new floats, lists of floats and
// lists of lists, created at their final length and filled by index.
#pragma once

#include <span>
#include <vector>

#include "common/expected.hpp"
#include "lib/owned_ref.hpp"

namespace caldrith {

// Each raises the internal fault "PyObject pointer is null" (after reporting
// the interpreter's own exception through the unraisable hook) when the
// interpreter cannot create an object.
OwnedRef to_python(double value);
// None, for a function that returns nothing.
OwnedRef to_python(Done);
// An object the model made itself, passed on.
OwnedRef to_python(OwnedRef object);
OwnedRef to_python(std::span<const double> values);
OwnedRef to_python(const std::vector<std::vector<double>>& arrays);

}  // namespace caldrith
