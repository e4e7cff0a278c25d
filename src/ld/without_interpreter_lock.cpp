#include "ld/without_interpreter_lock.hpp"

namespace caldrith {
namespace {

// Between two looks at pending signals: short against a person's reaction,
// long against taking the lock from other threads.
constexpr std::chrono::milliseconds SIGNAL_INTERVAL{5};

}  // namespace

WithoutInterpreterLock::WithoutInterpreterLock()
    : state_(PyEval_SaveThread()), next_check_(std::chrono::steady_clock::now() + SIGNAL_INTERVAL), scope_(*this) {}

WithoutInterpreterLock::~WithoutInterpreterLock() { PyEval_RestoreThread(state_); }

bool WithoutInterpreterLock::stop_requested() noexcept {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_check_) {
        return false;
    }
    next_check_ = now + SIGNAL_INTERVAL;
    PyEval_RestoreThread(state_);
    const bool stop = PyErr_CheckSignals() < 0;
    state_ = PyEval_SaveThread();
    return stop;
}

}  // namespace caldrith
