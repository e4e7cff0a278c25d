// The fast path of the sequence rule: the items of a one-dimensional buffer
// of a real numeric type, read straight from its memory instead of one
// Python object per item.
#pragma once

#include <optional>
#include <vector>

#include "lib/python.hpp"

namespace caldrith {

// The items of `object`, in order, when it is exactly a numpy.ndarray,
// array.array or memoryview exporting a one-dimensional buffer (strided or
// contiguous) of integers, booleans or binary floats of 2, 4 or 8 bytes.
// Each item becomes exactly the double that the interpreter's float
// conversion gives for the object that iterating `object` yields for it.
//
// Returns nothing, and leaves no exception pending, whenever that cannot be
// guaranteed: any other type or buffer layout or format, a byte order that
// the exporter's own iteration does not decode, a half-precision NaN (whose
// payload converters treat differently) or a boolean byte other than 0 or 1.
// The caller then converts by the general sequence rule.
// A length of 2^60 or more is the fault "capacity overflow".
std::optional<std::vector<double>> read_numeric_buffer(PyObject* object);

}  // namespace caldrith
