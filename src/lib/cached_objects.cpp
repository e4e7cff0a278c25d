#include "lib/cached_objects.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>

#include "lib/gil_once.hpp"

namespace caldrith {
namespace {

constexpr const char* PANIC_EXCEPTION_DOC =
    "The exception raised when an internal fault occurs in caldrith's native code.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so that\n"
    "it is not caught by ordinary handlers and typically propagates all the way up\n"
    "the stack, making the interpreter exit.";

// Without its type no internal fault can be reported at all: the pending
// exception is printed and the process ends.
[[noreturn]] void no_panic_exception_type() {
    PyErr_Print();
    std::fputs("Failed to initialize new exception type.\nuncaught panic at ffi boundary\n", stderr);
    std::abort();
}

}  // namespace

namespace detail {

PythonError reentrant_initialisation_error() {
    return PythonError::lazy(PyExc_RuntimeError,
                             "caldrith: a cached object was requested again by the Python code that "
                             "initialises it");
}

}  // namespace detail

PyObject* panic_exception_type() {
    static GilOnce<PyObject*> cell;
    auto type = cell.get([]() -> PyResult<PyObject*> {
        PyObject* created = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException",
                                                      PANIC_EXCEPTION_DOC, PyExc_BaseException,
                                                      nullptr);
        if (created == nullptr) {
            no_panic_exception_type();
        }
        return created;
    });
    if (!type) {
        std::move(type.error()).raise();
        no_panic_exception_type();
    }
    return *type;
}

PyResult<PyObject*> abstract_sequence_type() {
    static GilOnce<PyObject*> cell;
    return cell.get([]() -> PyResult<PyObject*> {
        OwnedRef module = OwnedRef::steal(PyImport_ImportModule("collections.abc"));
        if (!module) {
            return Unexpected{fetch_error()};
        }
        PyObject* type = PyObject_GetAttrString(module.get(), "Sequence");
        if (type == nullptr) {
            return Unexpected{fetch_error()};
        }
        if (!PyType_Check(type)) {
            // Only a type has the qualified name that the message shows.
            Py_DECREF(type);
            return Unexpected{PythonError::lazy(PyExc_TypeError, "collections.abc.Sequence is not a type")};
        }
        return type;
    });
}

PyResult<PyObject*> interned(AttributeName which) {
    static constexpr std::array<const char*, 3> TEXTS = {"__name__", "__all__", "add_note"};
    static std::array<GilOnce<PyObject*>, 3> cells;
    const auto index = static_cast<std::size_t>(which);
    return cells[index].get([index]() -> PyResult<PyObject*> {
        PyObject* text = PyUnicode_InternFromString(TEXTS[index]);
        if (text == nullptr) {
            return Unexpected{fetch_error()};
        }
        return text;
    });
}

}  // namespace caldrith
