// Conversion of bound arguments to doubles and arrays of doubles. A failure
// keeps the interpreter's own exception and message, with a note naming the
// parameter.
#pragma once

#include <vector>

#include "lib/python_error.hpp"

namespace caldrith {

// Float rule: an exact float is read directly; anything else goes through
// the interpreter's float conversion (__float__, __index__).
PyResult<double> extract_double(PyObject* object);

// Sequence rule: the items of a sequence (but not of a str), in iteration
// order, each by the float rule. The reported length only sizes the
// reservation. A one-dimensional numeric buffer of an exact ndarray,
// array.array or memoryview is read straight from memory, giving the same
// doubles (read_numeric_buffer).
PyResult<std::vector<double>> extract_sequence(PyObject* object);

// The parameter kinds of the function table, each converting one argument
// and naming its parameter in the error.
struct FloatParameter {
    using type = double;
    static PyResult<type> convert(PyObject* object, const char* parameter);
};

struct SequenceParameter {
    using type = std::vector<double>;
    static PyResult<type> convert(PyObject* object, const char* parameter);
};

}  // namespace caldrith
