#include "lib/results.hpp"

#include "common/fault.hpp"
#include "common/interruption.hpp"

namespace caldrith {
namespace {

OwnedRef checked(PyObject* created) {
    if (created == nullptr) {
        PyErr_WriteUnraisable(nullptr);
        raise_fault("PyObject pointer is null");
    }
    return OwnedRef::steal(created);
}

// A new list of `count` items, item i made by `make(i)`. The floats of a
// long result are made at tens of millions a second: `countdown` asks
// whether to stop every so many of them, and a list left half built is
// released as the call unwinds.
template <class MakeItem>
OwnedRef list_of(std::size_t count, InterruptionCountdown& countdown, MakeItem&& make) {
    OwnedRef list = checked(PyList_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t i = 0; i < count; ++i) {
        countdown.item();
        py::set_new_list_item(list.get(), static_cast<Py_ssize_t>(i), make(i).release());
    }
    return list;
}

OwnedRef list_of_floats(std::span<const double> values, InterruptionCountdown& countdown) {
    return list_of(values.size(), countdown, [&](std::size_t i) { return to_python(values[i]); });
}

}  // namespace

OwnedRef to_python(double value) { return checked(PyFloat_FromDouble(value)); }

OwnedRef to_python(Done) { return OwnedRef::borrow(Py_None); }

OwnedRef to_python(OwnedRef object) { return object; }

OwnedRef to_python(std::span<const double> values) {
    InterruptionCountdown countdown;
    return list_of_floats(values, countdown);
}

OwnedRef to_python(const std::vector<std::vector<double>>& arrays) {
    InterruptionCountdown countdown;
    return list_of(arrays.size(), countdown, [&](std::size_t i) { return list_of_floats(arrays[i], countdown); });
}

}  // namespace caldrith
