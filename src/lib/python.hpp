// The one place that includes the CPython API, so that every unit of the
// module boundary sees the same configuration of it.
//
// The boundary is compiled twice from the same sources: with CPython 3.14's
// full API for caldrith, and with Py_LIMITED_API for caldrith_ld's core, one
// build of which serves every CPython from 3.11 on (the stable ABI). The few
// calls that differ between the two are below: a build makes the call each
// names where the API it is compiled against has it (CPython 3.14's full API
// has every one), and its equivalent of 3.11's stable ABI otherwise.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>
#include <string_view>

// The version of the API compiled against: the interpreter's for the full
// API, the one targeted on the stable ABI.
#if defined(Py_LIMITED_API)
#define CALDRITH_API_VERSION Py_LIMITED_API
#else
#define CALDRITH_API_VERSION PY_VERSION_HEX
#endif

namespace caldrith::py {

// The fast calling convention's entry (PyCFunctionFastWithKeywords, a name
// that 3.11's headers lack).
using FastCallEntry = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// PyErr_GetRaisedException: the pending exception, normalised and holding
// its traceback (a new reference), or null; clears it.
inline PyObject* take_raised_exception() {
#if CALDRITH_API_VERSION < 0x030C0000
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return nullptr;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr) {
        PyException_SetTraceback(value, traceback);
        Py_DECREF(traceback);
    }
    Py_DECREF(type);
    return value;
#else
    return PyErr_GetRaisedException();
#endif
}

// PyErr_SetRaisedException: makes `exception` (a reference it takes over) the
// pending exception.
inline void set_raised_exception(PyObject* exception) {
#if CALDRITH_API_VERSION < 0x030C0000
    if (exception == nullptr) {
        PyErr_Clear();
        return;
    }
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception))), exception,
                  PyException_GetTraceback(exception));
#else
    PyErr_SetRaisedException(exception);
#endif
}

// PyIter_NextItem: 1 with the next item (a new reference), 0 at the end, -1
// with an exception set.
inline int next_item(PyObject* iterator, PyObject** item) {
#if CALDRITH_API_VERSION < 0x030E0000
    *item = PyIter_Next(iterator);
    if (*item != nullptr) {
        return 1;
    }
    return PyErr_Occurred() != nullptr ? -1 : 0;
#else
    return PyIter_NextItem(iterator, item);
#endif
}

// PyObject_CallMethodOneArg.
inline PyObject* call_method_one_arg(PyObject* object, PyObject* name, PyObject* argument) {
#if defined(Py_LIMITED_API)
    return PyObject_CallMethodObjArgs(object, name, argument, nullptr);
#else
    return PyObject_CallMethodOneArg(object, name, argument);
#endif
}

// PyDict_GetItemStringRef: 1 with the item (a new reference), 0 without it,
// -1 with an exception set.
inline int dictionary_item(PyObject* dictionary, const char* key, PyObject** item) {
#if CALDRITH_API_VERSION < 0x030D0000
    PyObject* text = PyUnicode_FromString(key);
    if (text == nullptr) {
        *item = nullptr;
        return -1;
    }
    *item = Py_XNewRef(PyDict_GetItemWithError(dictionary, text));
    Py_DECREF(text);
    if (*item != nullptr) {
        return 1;
    }
    return PyErr_Occurred() != nullptr ? -1 : 0;
#else
    return PyDict_GetItemStringRef(dictionary, key, item);
#endif
}

// The value of an exact float (PyFloat_AS_DOUBLE).
inline double exact_float_value(PyObject* number) {
#if defined(Py_LIMITED_API)
    return PyFloat_AsDouble(number);
#else
    return PyFloat_AS_DOUBLE(number);
#endif
}

// PyList_SET_ITEM: fills slot `index` of a new list with `item` (a reference
// it takes over).
inline void set_new_list_item(PyObject* list, Py_ssize_t index, PyObject* item) {
#if defined(Py_LIMITED_API)
    PyList_SetItem(list, index, item);
#else
    PyList_SET_ITEM(list, index, item);
#endif
}

// PyTuple_GET_SIZE and PyTuple_GET_ITEM of a tuple.
inline Py_ssize_t tuple_size(PyObject* tuple) {
#if defined(Py_LIMITED_API)
    return PyTuple_Size(tuple);
#else
    return PyTuple_GET_SIZE(tuple);
#endif
}

inline PyObject* tuple_item(PyObject* tuple, Py_ssize_t index) {
#if defined(Py_LIMITED_API)
    return PyTuple_GetItem(tuple, index);
#else
    return PyTuple_GET_ITEM(tuple, index);
#endif
}

// The bytes of a bytes object (PyBytes_AS_STRING, PyBytes_GET_SIZE).
inline std::string_view bytes_view(PyObject* bytes) {
#if defined(Py_LIMITED_API)
    return {PyBytes_AsString(bytes), static_cast<std::size_t>(PyBytes_Size(bytes))};
#else
    return {PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes))};
#endif
}

// Whether the type exports buffers (has bf_getbuffer). A macro, so that the
// full build compiles the very test it always made: as a function, however
// inline, it changes how GCC lays out its callers' branches.
#if defined(Py_LIMITED_API)
#define CALDRITH_EXPORTS_BUFFERS(type) (PyType_GetSlot((type), Py_bf_getbuffer) != nullptr)
#else
#define CALDRITH_EXPORTS_BUFFERS(type) ((type)->tp_as_buffer != nullptr && (type)->tp_as_buffer->bf_getbuffer != nullptr)
#endif

// Whether the type's name, the last dotted part of its tp_name ("ndarray"
// of "numpy.ndarray"), is `name`. Leaves no exception pending.
inline bool type_name_is(PyTypeObject* type, const char* name) {
#if defined(Py_LIMITED_API)
    // __name__ is that last dotted part, for static and heap types alike.
    PyObject* text = PyType_GetName(type);
    const char* utf8 = text != nullptr ? PyUnicode_AsUTF8AndSize(text, nullptr) : nullptr;
    const bool same = utf8 != nullptr && std::strcmp(utf8, name) == 0;
    if (utf8 == nullptr) {
        PyErr_Clear();
    }
    Py_XDECREF(text);
    return same;
#else
    const char* dot = std::strrchr(type->tp_name, '.');
    return std::strcmp(dot == nullptr ? type->tp_name : dot + 1, name) == 0;
#endif
}

}  // namespace caldrith::py
