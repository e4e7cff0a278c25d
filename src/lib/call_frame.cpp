#include "lib/call_frame.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace caldrith {

bool PendingSignals::stop_requested() noexcept { return PyErr_CheckSignals() < 0; }

namespace detail {

void raise_current_fault() noexcept {
    try {
        try {
            throw;
        } catch (const Interrupted&) {
            // The signal handler's exception is already set.
        } catch (const Fault& fault) {
            raise_internal_fault(fault.message());
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (...) {
            raise_internal_fault("internal fault without a message");
        }
    } catch (...) {
        std::fputs("uncaught panic at ffi boundary\n", stderr);
        std::abort();
    }
}

}  // namespace detail
}  // namespace caldrith
