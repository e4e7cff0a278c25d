#include "lib/conversion.hpp"

#include <cstddef>

#include "common/interruption.hpp"
#include "lib/cached_objects.hpp"
#include "lib/capacity.hpp"
#include "lib/numeric_buffer.hpp"

namespace caldrith {
namespace {

// Reserves room for the reported number of items; a length that cannot be
// had leaves the array to grow as the items arrive.
void reserve_reported_length(PyObject* object, std::vector<double>& values) {
    const Py_ssize_t length = PyObject_Size(object);
    if (length < 0) {
        (void)fetch_error();
        return;
    }
    reserve_capacity(values, length);
}

template <class Kind>
PyResult<typename Kind::type> with_parameter_note(PyResult<typename Kind::type> converted,
                                                  const char* parameter) {
    if (!converted) {
        return Unexpected{argument_extraction_error(std::move(converted).error(), parameter)};
    }
    return converted;
}

}  // namespace

PyResult<double> extract_double(PyObject* object) {
    if (PyFloat_CheckExact(object)) {
        return py::exact_float_value(object);
    }
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred() != nullptr) {
        return Unexpected{fetch_error()};
    }
    return value;
}

PyResult<std::vector<double>> extract_sequence(PyObject* object) {
    if (PyUnicode_Check(object)) {
        return Unexpected{PythonError::lazy(PyExc_TypeError, "Can't extract `str` to `Vec`")};
    }
    if (!PySequence_Check(object)) {
        auto sequence_type = abstract_sequence_type();
        if (!sequence_type && sequence_type.error().is_exit_request()) {
            // KeyboardInterrupt, SystemExit: ends the call as it is, like a
            // signal during a long conversion, with no parameter note.
            std::move(sequence_type).error().raise();
            throw Interrupted();
        }
        if (!sequence_type) {
            // The type cannot be had late in the interpreter's teardown (no
            // more imports) or from the Python code of its own lookup calling
            // back here: the message names it all the same.
            return Unexpected{PythonError::type_mismatch(object, "Sequence")};
        }
        return Unexpected{PythonError::type_mismatch(object, *sequence_type)};
    }
    if (auto read = read_numeric_buffer(object)) {
        return std::move(*read);
    }
    std::vector<double> values;
    reserve_reported_length(object, values);
    OwnedRef iterator = OwnedRef::steal(PyObject_GetIter(object));
    if (!iterator) {
        return Unexpected{fetch_error()};
    }
    InterruptionCountdown countdown;
    for (;;) {
        countdown.item();
        PyObject* raw_item = nullptr;
        const int status = py::next_item(iterator.get(), &raw_item);
        if (status == 0) {
            return values;
        }
        if (status < 0) {
            return Unexpected{fetch_error()};
        }
        OwnedRef item = OwnedRef::steal(raw_item);
        auto value = extract_double(item.get());
        if (!value) {
            return Unexpected{std::move(value).error()};
        }
        values.push_back(*value);
    }
}

PyResult<double> FloatParameter::convert(PyObject* object, const char* parameter) {
    return with_parameter_note<FloatParameter>(extract_double(object), parameter);
}

PyResult<std::vector<double>> SequenceParameter::convert(PyObject* object, const char* parameter) {
    return with_parameter_note<SequenceParameter>(extract_sequence(object), parameter);
}

}  // namespace caldrith
