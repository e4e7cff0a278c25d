// The module's entry point and its execution: a multi-phase initialised
// module without state, whose execution slot attaches the eight functions
// and lists them in __all__.
#include <string>

#include "common/fault.hpp"
#include "lib/cached_objects.hpp"
#include "lib/call_frame.hpp"
#include "lib/function_table.hpp"

namespace caldrith {
namespace {

// "<type repr>: <value repr>, traceback: <traceback repr>" of an exception.
std::string describe(PythonError error) {
    OwnedRef exception = std::move(error).into_exception();
    auto repr = [](PyObject* object) {
        OwnedRef text = OwnedRef::steal(PyObject_Repr(object));
        if (!text) {
            PyErr_Clear();
            return std::string("<unprintable>");
        }
        return lossy_utf8(text.get());
    };
    OwnedRef traceback = OwnedRef::steal(PyException_GetTraceback(exception.get()));
    return repr(reinterpret_cast<PyObject*>(Py_TYPE(exception.get()))) + ": " + repr(exception.get()) +
           ", traceback: " + repr(traceback ? traceback.get() : Py_None);
}

// The module's __all__, created empty if it does not exist yet.
PyResult<OwnedRef> all_list(PyObject* module, PyObject* all_name) {
    OwnedRef all = OwnedRef::steal(PyObject_GetAttr(module, all_name));
    if (!all) {
        PythonError error = fetch_error();
        OwnedRef exception = std::move(error).into_exception();
        if (!PyErr_GivenExceptionMatches(exception.get(), PyExc_AttributeError)) {
            return Unexpected{PythonError::fetched(std::move(exception))};
        }
        all = OwnedRef::steal(PyList_New(0));
        if (!all || PyObject_SetAttr(module, all_name, all.get()) < 0) {
            return Unexpected{fetch_error()};
        }
    }
    if (!PyList_Check(all.get())) {
        return Unexpected{PythonError::type_mismatch(all.get(), reinterpret_cast<PyObject*>(&PyList_Type))};
    }
    return all;
}

PyResult<Done> attach(PyObject* module, PyMethodDef& definition) {
    OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
    if (!module_name) {
        return Unexpected{fetch_error()};
    }
    OwnedRef function = OwnedRef::steal(PyCMethod_New(&definition, module, module_name.get(), nullptr));
    if (!function) {
        return Unexpected{fetch_error()};
    }
    auto name_attribute = interned(AttributeName::name);
    if (!name_attribute) {
        return Unexpected{std::move(name_attribute).error()};
    }
    OwnedRef name = OwnedRef::steal(PyObject_GetAttr(function.get(), *name_attribute));
    if (!name) {
        return Unexpected{fetch_error()};
    }
    if (!PyUnicode_Check(name.get())) {
        return Unexpected{PythonError::type_mismatch(name.get(), reinterpret_cast<PyObject*>(&PyUnicode_Type))};
    }
    auto all_attribute = interned(AttributeName::all);
    if (!all_attribute) {
        return Unexpected{std::move(all_attribute).error()};
    }
    auto all = all_list(module, *all_attribute);
    if (!all) {
        return Unexpected{std::move(all).error()};
    }
    if (PyList_Append(all->get(), name.get()) < 0) {
        raise_fault("could not append __name__ to __all__: " + describe(fetch_error()));
    }
    if (PyObject_SetAttr(module, name.get(), function.get()) < 0) {
        return Unexpected{fetch_error()};
    }
    return Done{};
}

int execute_module(PyObject* module) {
    return status_frame([&]() -> PyResult<Done> {
        if (!PyModule_Check(module)) {
            return Unexpected{PythonError::type_mismatch(module, reinterpret_cast<PyObject*>(&PyModule_Type))};
        }
        for (PyMethodDef& definition : function_table()) {
            if (auto attached = attach(module, definition); !attached) {
                return attached;
            }
        }
        return Done{};
    });
}

PyModuleDef_Slot SLOTS[] = {
    {Py_mod_exec, reinterpret_cast<void*>(execute_module)},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef DEFINITION = {
    PyModuleDef_HEAD_INIT,
    "caldrith",
    "Finite-source magnification of a star by a single point-mass gravitational lens.",
    0,
    nullptr,
    SLOTS,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace caldrith

PyMODINIT_FUNC PyInit_caldrith() { return PyModuleDef_Init(&caldrith::DEFINITION); }
