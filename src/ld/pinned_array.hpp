// Arrays of doubles that the caller hands over (numpy arrays, as
// caldrith_ld's Python layer prepares them), held for the length of a call:
// the buffer is kept, so that its exporter can neither free nor resize the
// memory while the call computes without the interpreter lock.
#pragma once

#include <span>

#include "lib/python_error.hpp"

namespace caldrith {

class PinnedArray {
public:
    PinnedArray() = default;
    PinnedArray(PinnedArray&& other) noexcept;
    PinnedArray& operator=(PinnedArray&& other) noexcept;
    PinnedArray(const PinnedArray&) = delete;
    PinnedArray& operator=(const PinnedArray&) = delete;
    ~PinnedArray();

    // The buffer of `object`: one-dimensional, C-contiguous, of doubles
    // (format "d"), writable if asked. Anything else is a TypeError naming
    // `parameter`.
    static PyResult<PinnedArray> pin(PyObject* object, bool writable, const char* parameter);

    std::span<const double> values() const noexcept;
    std::span<double> writable_values() const noexcept;

private:
    Py_buffer view_{};
    bool held_ = false;
};

// The parameter kinds of caldrith_ld's functions.
struct InputArrayParameter {
    using type = PinnedArray;
    static PyResult<type> convert(PyObject* object, const char* parameter);
};

struct OutputArrayParameter {
    using type = PinnedArray;
    static PyResult<type> convert(PyObject* object, const char* parameter);
};

struct IntegerParameter {
    using type = long;
    static PyResult<type> convert(PyObject* object, const char* parameter);
};

}  // namespace caldrith
