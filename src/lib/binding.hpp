// Binding the arguments of a call made with the fast calling convention to
// the parameters of a function. Every parameter of every function of the
// module may be given by position or by keyword, and every one is required.
#pragma once

#include <span>

#include "lib/python_error.hpp"

namespace caldrith {

struct FunctionDescription {
    const char* name;
    std::span<const char* const> parameters;
};

// Fills `slots` (one per parameter, borrowed references) from args[0..nargs)
// and the keyword values that follow them, named by `kwnames` (may be null).
// Fails with the interpreter-style TypeError of the first problem found: too
// many positional values, then an unknown or repeated keyword, then missing
// parameters.
PyResult<Done> extract_arguments_fastcall(const FunctionDescription& description,
                                          PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames, std::span<PyObject*> slots);

}  // namespace caldrith
