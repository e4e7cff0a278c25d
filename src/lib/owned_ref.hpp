// OwnedRef: a strong reference to a Python object, released on destruction.
// Only used on the thread that holds the interpreter lock.
#pragma once

#include <utility>

#include "lib/python.hpp"

namespace caldrith {

class OwnedRef {
public:
    OwnedRef() = default;
    // Takes over a new reference (which may be null).
    static OwnedRef steal(PyObject* object) { return OwnedRef(object); }
    // Adds a reference to a borrowed object.
    static OwnedRef borrow(PyObject* object) { return OwnedRef(Py_XNewRef(object)); }

    OwnedRef(OwnedRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    ~OwnedRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hands the reference to the caller.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }

private:
    explicit OwnedRef(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace caldrith
