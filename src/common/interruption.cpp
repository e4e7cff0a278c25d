#include "common/interruption.hpp"

namespace caldrith {
namespace {

thread_local InterruptionCheck* installed = nullptr;

}  // namespace

InterruptionScope::InterruptionScope(InterruptionCheck& check) noexcept : previous_(installed) {
    installed = &check;
}

InterruptionScope::~InterruptionScope() { installed = previous_; }

bool stop_requested() noexcept { return installed != nullptr && installed->stop_requested(); }

void signal_handled() noexcept {
    if (installed != nullptr) {
        installed->signal_handled();
    }
}

void throw_if_interrupted() {
    if (stop_requested()) {
        throw Interrupted();
    }
}

}  // namespace caldrith
