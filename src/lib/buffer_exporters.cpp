#include "lib/buffer_exporters.hpp"

#include <atomic>

#include "lib/owned_ref.hpp"

namespace caldrith {
namespace {

// A type known by its module and attribute name, such as numpy.ndarray,
// recognised by identity with the attribute of the loaded module. The first
// type so recognised is kept (with a strong reference, for the life of the
// process), so later calls compare one pointer.
class NamedType {
public:
    constexpr NamedType(const char* module, const char* name) : module_(module), name_(name) {}

    bool is(PyTypeObject* type) {
        if (type == known_.load(std::memory_order_acquire)) {
            return true;
        }
        if (!named_alike(type) || !is_loaded_attribute(type)) {
            return false;
        }
        PyTypeObject* expected = nullptr;
        if (known_.compare_exchange_strong(expected, type, std::memory_order_acq_rel)) {
            Py_INCREF(reinterpret_cast<PyObject*>(type));
        }
        return true;
    }

private:
    // A cheap filter before the look-up: the last dotted part of the type's
    // name is the attribute name ("numpy.ndarray" for a static type,
    // "ndarray" for a class).
    bool named_alike(PyTypeObject* type) const { return py::type_name_is(type, name_); }

    // Whether `type` is the attribute of the module in sys.modules. Reads
    // the dictionaries directly, so that nothing is imported and no Python
    // code runs; a failed look-up is no match.
    bool is_loaded_attribute(PyTypeObject* type) const {
        PyObject* modules = PySys_GetObject("modules");
        if (modules == nullptr || !PyDict_Check(modules)) {
            return false;
        }
        OwnedRef module = dictionary_item(modules, module_);
        if (!module || !PyModule_Check(module.get())) {
            return false;
        }
        OwnedRef attribute = dictionary_item(PyModule_GetDict(module.get()), name_);
        return attribute.get() == reinterpret_cast<PyObject*>(type);
    }

    static OwnedRef dictionary_item(PyObject* dictionary, const char* key) {
        PyObject* item = nullptr;
        if (py::dictionary_item(dictionary, key, &item) < 0) {
            PyErr_Clear();
        }
        return OwnedRef::steal(item);
    }

    const char* module_;
    const char* name_;
    std::atomic<PyTypeObject*> known_{nullptr};
};

NamedType NDARRAY{"numpy", "ndarray"};
NamedType ARRAY{"array", "array"};

}  // namespace

BufferExporter exact_buffer_exporter(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyMemoryView_Type) {
        return BufferExporter::memoryview;
    }
    if (!CALDRITH_EXPORTS_BUFFERS(type)) {
        return BufferExporter::other;
    }
    if (NDARRAY.is(type)) {
        return BufferExporter::ndarray;
    }
    if (ARRAY.is(type)) {
        return BufferExporter::array;
    }
    return BufferExporter::other;
}

}  // namespace caldrith
