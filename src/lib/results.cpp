#include "lib/results.hpp"

#include "common/fault.hpp"

namespace caldrith {
namespace {

OwnedRef checked(PyObject* created) {
    if (created == nullptr) {
        PyErr_WriteUnraisable(nullptr);
        raise_fault("PyObject pointer is null");
    }
    return OwnedRef::steal(created);
}

// A new list of `count` items, item i made by `make(i)`.
template <class MakeItem>
OwnedRef list_of(std::size_t count, MakeItem&& make) {
    OwnedRef list = checked(PyList_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t i = 0; i < count; ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), make(i).release());
    }
    return list;
}

}  // namespace

OwnedRef to_python(double value) { return checked(PyFloat_FromDouble(value)); }

OwnedRef to_python(std::span<const double> values) {
    return list_of(values.size(), [&](std::size_t i) { return to_python(values[i]); });
}

OwnedRef to_python(const std::vector<std::vector<double>>& arrays) {
    return list_of(arrays.size(), [&](std::size_t i) { return to_python(std::span<const double>(arrays[i])); });
}

}  // namespace caldrith
