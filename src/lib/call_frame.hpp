// The frame around the module's execution and around every function call.
//
// The body returns a value or a PythonError; it may also end in an internal
// fault (a C++ `Fault`), which is caught here, once, and raised as the
// internal-fault exception. Exactly one Python exception is set whenever the
// frame reports failure. A native allocation that fails raises MemoryError:
// a large input must not end the process. A computation stopped by a signal
// handler that raised (`Interrupted`) ends with the handler's exception.
#pragma once

#include "common/fault.hpp"
#include "common/interruption.hpp"
#include "lib/python_error.hpp"

namespace caldrith {

// The check a model asks between positions, and the pool's waiting caller
// while it waits: runs the handlers of pending signals; a handler that raises
// (KeyboardInterrupt for Ctrl-C) stops the computation, its exception set.
class PendingSignals final : public InterruptionCheck {
public:
    bool stop_requested() noexcept override;
};

namespace detail {
// Raises the exception for the fault in flight (called inside a catch
// clause). If that itself fails, the process ends.
void raise_current_fault() noexcept;
}  // namespace detail

// For a function call: the new reference to the result, or null.
template <class Body>
PyObject* call_frame(Body&& body) noexcept {
    try {
        PyResult<OwnedRef> result = body();
        if (result) {
            return std::move(*result).release();
        }
        std::move(result.error()).raise();
    } catch (...) {
        detail::raise_current_fault();
    }
    return nullptr;
}

// For the module's execution: 0, or -1 with an exception set.
template <class Body>
int status_frame(Body&& body) noexcept {
    try {
        PyResult<Done> result = body();
        if (result) {
            return 0;
        }
        std::move(result.error()).raise();
    } catch (...) {
        detail::raise_current_fault();
    }
    return -1;
}

}  // namespace caldrith
