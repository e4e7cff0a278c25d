#include "lib/python_error.hpp"

#include <cstdio>

#include "common/fault.hpp"
#include "lib/cached_objects.hpp"

namespace caldrith {
namespace {

OwnedRef text_object(const std::string& text) {
    return OwnedRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// The qualified name of a type, or a stand-in when it cannot be had.
std::string qualified_name(PyTypeObject* type) {
    OwnedRef name = OwnedRef::steal(PyType_GetQualName(type));
    if (!name) {
        PyErr_Clear();
        return "<failed to extract type name>";
    }
    return lossy_utf8(name.get());
}

std::string type_mismatch_message(PyObject* object, const std::string& expected) {
    if (object == Py_None) {
        return "'None' is not an instance of '" + expected + "'";
    }
    return "'" + qualified_name(Py_TYPE(object)) + "' object is not an instance of '" + expected + "'";
}

// "while processing '{parameter}'", written with the interpreter's string
// writer (formatted where the API has none: before 3.14 and on the stable
// ABI).
OwnedRef note_text(const char* parameter) {
#if defined(Py_LIMITED_API) || PY_VERSION_HEX < 0x030E0000
    return OwnedRef::steal(PyUnicode_FromFormat("while processing '%s'", parameter));
#else
    PyUnicodeWriter* writer = PyUnicodeWriter_Create(0);
    if (writer == nullptr) {
        return {};
    }
    if (PyUnicodeWriter_WriteUTF8(writer, "while processing '", -1) < 0 ||
        PyUnicodeWriter_WriteUTF8(writer, parameter, -1) < 0 ||
        PyUnicodeWriter_WriteUTF8(writer, "'", -1) < 0) {
        PyUnicodeWriter_Discard(writer);
        return {};
    }
    return OwnedRef::steal(PyUnicodeWriter_Finish(writer));
#endif
}

// A pending internal-fault exception came back from Python code that this
// module called (an item's __float__ calling into the module, say): report it
// and carry the fault on.
[[noreturn]] void resume_internal_fault(OwnedRef exception) {
    OwnedRef text = OwnedRef::steal(PyObject_Str(exception.get()));
    std::string message;
    if (text) {
        message = lossy_utf8(text.get());
    } else {
        PyErr_Clear();
        message = "internal fault resumed from Python code (its message could not be read)";
    }
    std::fputs("caldrith: resuming an internal fault that reached Python code.\n"
               "The Python stack trace follows:\n",
               stderr);
    py::set_raised_exception(exception.release());
    PyErr_PrintEx(0);
    resume_fault(std::move(message));
}

}  // namespace

PythonError PythonError::lazy(PyObject* type, std::string message) {
    return PythonError(Lazy{type, std::move(message)});
}

PythonError PythonError::type_mismatch(PyObject* object, PyObject* expected_type) {
    return PythonError(TypeMismatch{OwnedRef::borrow(object), expected_type, nullptr});
}

PythonError PythonError::type_mismatch(PyObject* object, const char* expected_name) {
    return PythonError(TypeMismatch{OwnedRef::borrow(object), nullptr, expected_name});
}

PythonError PythonError::fetched(OwnedRef exception) {
    return PythonError(Fetched{std::move(exception)});
}

bool PythonError::is_exit_request() const {
    const auto* fetched = std::get_if<Fetched>(&state_);
    return fetched != nullptr && !PyErr_GivenExceptionMatches(fetched->exception.get(), PyExc_Exception);
}

void PythonError::raise() && {
    if (auto* fetched = std::get_if<Fetched>(&state_)) {
        py::set_raised_exception(fetched->exception.release());
        return;
    }
    PyObject* type = PyExc_TypeError;
    std::string message;
    if (auto* lazy = std::get_if<Lazy>(&state_)) {
        type = lazy->type;
        message = std::move(lazy->message);
    } else {
        auto& mismatch = std::get<TypeMismatch>(state_);
        const std::string expected =
            mismatch.expected_type != nullptr
                ? qualified_name(reinterpret_cast<PyTypeObject*>(mismatch.expected_type))
                : std::string(mismatch.expected_name);
        message = type_mismatch_message(mismatch.object.get(), expected);
    }
    OwnedRef value = text_object(message);
    if (value) {
        PyErr_SetObject(type, value.get());
    }
}

OwnedRef PythonError::into_exception() && {
    if (auto* fetched = std::get_if<Fetched>(&state_)) {
        return std::move(fetched->exception);
    }
    std::move(*this).raise();
    return OwnedRef::steal(py::take_raised_exception());
}

PythonError fetch_error() {
    OwnedRef exception = OwnedRef::steal(py::take_raised_exception());
    if (!exception) {
        return PythonError::lazy(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    if (Py_TYPE(exception.get()) == reinterpret_cast<PyTypeObject*>(panic_exception_type())) {
        resume_internal_fault(std::move(exception));
    }
    return PythonError::fetched(std::move(exception));
}

PythonError argument_extraction_error(PythonError error, const char* parameter) {
    OwnedRef note = note_text(parameter);
    if (!note) {
        PyErr_Clear();
        return error;
    }
    OwnedRef exception = std::move(error).into_exception();
    auto add_note = interned(AttributeName::add_note);
    if (add_note) {
        OwnedRef added = OwnedRef::steal(py::call_method_one_arg(exception.get(), *add_note, note.get()));
        if (!added) {
            PyErr_Clear();
        }
    }
    return PythonError::fetched(std::move(exception));
}

void raise_internal_fault(const std::string& message) {
    OwnedRef text = text_object(message);
    if (!text) {
        return;
    }
    OwnedRef arguments = OwnedRef::steal(PyTuple_Pack(1, text.get()));
    if (arguments) {
        PyErr_SetObject(panic_exception_type(), arguments.get());
    }
}

std::string lossy_utf8(PyObject* text) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(text, &size)) {
        return std::string(data, static_cast<std::size_t>(size));
    }
    PyErr_Clear();
    OwnedRef bytes = OwnedRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    if (!bytes) {
        PyErr_Clear();
        return {};
    }
    const std::string_view encoded = py::bytes_view(bytes.get());
    OwnedRef replaced = OwnedRef::steal(
        PyUnicode_DecodeUTF8(encoded.data(), static_cast<Py_ssize_t>(encoded.size()), "replace"));
    const char* data = replaced ? PyUnicode_AsUTF8AndSize(replaced.get(), &size) : nullptr;
    if (data == nullptr) {
        PyErr_Clear();
        return {};
    }
    return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace caldrith
