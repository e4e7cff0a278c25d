// Objects the module creates once, on first use, and keeps for the life of
// the process.
#pragma once

#include "lib/python_error.hpp"

namespace caldrith {

// The internal-fault exception type "pyo3_runtime.PanicException", derived
// from BaseException. If it cannot be created the process ends.
PyObject* panic_exception_type();

// collections.abc.Sequence, named by the message for a non-sequence argument.
// Fails when it cannot be imported or is not a type, and with a RuntimeError
// when the Python code of its lookup asks for it again.
PyResult<PyObject*> abstract_sequence_type();

enum class AttributeName { name, all, add_note };

// The interned str "__name__", "__all__" or "add_note".
PyResult<PyObject*> interned(AttributeName which);

}  // namespace caldrith
