#include "ld/pinned_array.hpp"

#include <cstring>
#include <string>
#include <utility>

namespace caldrith {

PinnedArray::PinnedArray(PinnedArray&& other) noexcept : view_(other.view_), held_(std::exchange(other.held_, false)) {}

PinnedArray& PinnedArray::operator=(PinnedArray&& other) noexcept {
    std::swap(view_, other.view_);
    std::swap(held_, other.held_);
    return *this;
}

PinnedArray::~PinnedArray() {
    if (held_) {
        PyBuffer_Release(&view_);
    }
}

PyResult<PinnedArray> PinnedArray::pin(PyObject* object, bool writable, const char* parameter) {
    PinnedArray array;
    const int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
    if (PyObject_GetBuffer(object, &array.view_, flags) < 0) {
        return Unexpected{argument_extraction_error(fetch_error(), parameter)};
    }
    array.held_ = true;
    const bool doubles = array.view_.itemsize == sizeof(double) && array.view_.format != nullptr &&
                         (std::strcmp(array.view_.format, "d") == 0 || std::strcmp(array.view_.format, "=d") == 0 ||
                          std::strcmp(array.view_.format, "@d") == 0);
    if (!doubles || array.view_.ndim != 1) {
        return Unexpected{PythonError::lazy(PyExc_TypeError, std::string(parameter) +
                                                                 " must be a one-dimensional contiguous "
                                                                 "array of float64")};
    }
    return array;
}

std::span<const double> PinnedArray::values() const noexcept {
    return {static_cast<const double*>(view_.buf), static_cast<std::size_t>(view_.shape[0])};
}

std::span<double> PinnedArray::writable_values() const noexcept {
    return {static_cast<double*>(view_.buf), static_cast<std::size_t>(view_.shape[0])};
}

PyResult<PinnedArray> InputArrayParameter::convert(PyObject* object, const char* parameter) {
    return PinnedArray::pin(object, false, parameter);
}

PyResult<PinnedArray> OutputArrayParameter::convert(PyObject* object, const char* parameter) {
    return PinnedArray::pin(object, true, parameter);
}

PyResult<long> IntegerParameter::convert(PyObject* object, const char* parameter) {
    const long value = PyLong_AsLong(object);
    if (value == -1 && PyErr_Occurred() != nullptr) {
        return Unexpected{argument_extraction_error(fetch_error(), parameter)};
    }
    return value;
}

}  // namespace caldrith
