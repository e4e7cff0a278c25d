// PythonError: the error half of every value-or-error result at the module
// boundary, standing for exactly one Python exception.
//
// It is either lazy (an exception type and its message, or an object that is
// not of the expected type, whose message is formatted only when raised) or
// fetched (an exception object taken from the interpreter, with its
// traceback and notes). Raising consumes it.
#pragma once

#include <string>
#include <variant>

#include "common/expected.hpp"
#include "lib/owned_ref.hpp"
#include "lib/python.hpp"

namespace caldrith {

class PythonError {
public:
    // type(message): `type` is one of the interpreter's static exception types.
    static PythonError lazy(PyObject* type, std::string message);
    // TypeError "'{type}' object is not an instance of '{expected}'" for
    // `object`, named after the qualified name of `expected_type` (a type
    // that lives for the process).
    static PythonError type_mismatch(PyObject* object, PyObject* expected_type);
    // The same message naming the expected type by `expected_name` (static
    // text), where the type itself cannot be had.
    static PythonError type_mismatch(PyObject* object, const char* expected_name);
    static PythonError fetched(OwnedRef exception);

    // True for an exception that is not an Exception (KeyboardInterrupt,
    // SystemExit, GeneratorExit): one that a fallback for ordinary errors
    // must let pass.
    bool is_exit_request() const;

    // Sets this error as the interpreter's current exception.
    void raise() &&;
    // The exception object; a lazy error is created here.
    OwnedRef into_exception() &&;

private:
    struct Lazy {
        PyObject* type;
        std::string message;
    };
    struct TypeMismatch {
        OwnedRef object;
        PyObject* expected_type;    // null: named by expected_name
        const char* expected_name;
    };
    struct Fetched {
        OwnedRef exception;
    };
    explicit PythonError(std::variant<Lazy, TypeMismatch, Fetched> state) : state_(std::move(state)) {}

    std::variant<Lazy, TypeMismatch, Fetched> state_;
};

template <class T>
using PyResult = Expected<T, PythonError>;

// Takes the interpreter's pending exception after a failed call. A pending
// internal-fault exception is not returned: it is printed to standard error
// and the fault resumes as a C++ `Fault` with the same message.
PythonError fetch_error();

// The conversion error of parameter `parameter`, with the note
// "while processing '{parameter}'" added to its exception.
PythonError argument_extraction_error(PythonError error, const char* parameter);

// Sets the internal-fault exception with `message` as the current exception.
void raise_internal_fault(const std::string& message);

// UTF-8 text of a str object; unencodable characters (lone surrogates) are
// replaced rather than failing.
std::string lossy_utf8(PyObject* text);

}  // namespace caldrith
