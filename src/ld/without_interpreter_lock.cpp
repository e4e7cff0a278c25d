#include "ld/without_interpreter_lock.hpp"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>

#include "common/fork_generation.hpp"
#include "lib/owned_ref.hpp"

namespace caldrith {
namespace {

using Clock = std::chrono::steady_clock;

// threading.main_thread().ident; nothing if that cannot be had. The calling
// thread holds the lock.
std::optional<unsigned long> ask_main_thread() {
    const OwnedRef threading = OwnedRef::steal(PyImport_ImportModule("threading"));
    const OwnedRef main = threading ? OwnedRef::steal(PyObject_CallMethod(threading.get(), "main_thread", nullptr))
                                    : OwnedRef();
    const OwnedRef ident = main ? OwnedRef::steal(PyObject_GetAttrString(main.get(), "ident")) : OwnedRef();
    const unsigned long value = ident ? PyLong_AsUnsignedLong(ident.get()) : 0;
    if (PyErr_Occurred() != nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    return value;
}

// Whether the calling thread, which holds the lock, runs signal handlers.
// The main thread is asked once per process: a child made by fork() asks
// again, its main thread being the one that forked. When it cannot be told,
// the thread is taken to run them (and looks for signals as it would). (A
// subinterpreter's main thread is taken for one too: the stable ABI cannot
// tell interpreters apart, and looking for signals there runs no handler.)
bool runs_signal_handlers() {
    static std::atomic<std::uint64_t> asked_in{0};  // the fork generation + 1 of main_thread
    static std::atomic<unsigned long> main_thread{0};
    const std::uint64_t generation = fork_generation() + 1;
    if (asked_in.load(std::memory_order_acquire) != generation) {
        const std::optional<unsigned long> asked = ask_main_thread();
        if (!asked) {
            return true;
        }
        main_thread.store(*asked, std::memory_order_relaxed);
        asked_in.store(generation, std::memory_order_release);
    }
    return PyThread_get_thread_ident() == main_thread.load(std::memory_order_relaxed);
}

}  // namespace

WithoutInterpreterLock::WithoutInterpreterLock()
    : handles_signals_(runs_signal_handlers()),
      state_(PyEval_SaveThread()),
      next_check_(Clock::now() + SIGNAL_INTERVAL),
      scope_(*this) {}

WithoutInterpreterLock::~WithoutInterpreterLock() { PyEval_RestoreThread(state_); }

bool WithoutInterpreterLock::stop_requested() noexcept {
    if (!handles_signals_) {
        return false;
    }
    const auto asked = Clock::now();
    if (asked < next_check_) {
        return false;
    }
    PyEval_RestoreThread(state_);
    const auto locked = Clock::now();
    const bool stop = PyErr_CheckSignals() < 0;
    state_ = PyEval_SaveThread();
    next_check_ = Clock::now() + std::max<Clock::duration>(SIGNAL_INTERVAL, CONTENDED_SHARE * (locked - asked));
    return stop;
}

void WithoutInterpreterLock::signal_handled() noexcept { next_check_ = Clock::time_point::min(); }

}  // namespace caldrith
