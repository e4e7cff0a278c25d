// Expected<T, E>: a value or an error, the return type of every operation
// that can fail without it being a fault. Kernels and models use it with a
// static message (`Message`); the module boundary uses it with an error that
// stands for a Python exception.
//
// A small stand-in for C++23's std::expected, built on std::variant.
#pragma once

#include <cassert>
#include <utility>
#include <variant>

namespace caldrith {

// Fixed error text of a kernel or model: static storage, never formatted,
// never freed ("ellipk: Arguments cannot be NAN.", ...).
using Message = const char*;

template <class E>
struct Unexpected {
    E error;
};

template <class E>
Unexpected(E) -> Unexpected<E>;

template <class T, class E>
class [[nodiscard]] Expected {
public:
    using value_type = T;
    using error_type = E;

    Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}

    template <class G>
    Expected(Unexpected<G> failure) : state_(std::in_place_index<1>, std::move(failure.error)) {}

    bool has_value() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    T& value() & {
        assert(has_value());
        return *std::get_if<0>(&state_);
    }
    const T& value() const& {
        assert(has_value());
        return *std::get_if<0>(&state_);
    }
    T&& value() && {
        assert(has_value());
        return std::move(*std::get_if<0>(&state_));
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    E& error() & {
        assert(!has_value());
        return *std::get_if<1>(&state_);
    }
    const E& error() const& {
        assert(!has_value());
        return *std::get_if<1>(&state_);
    }
    E&& error() && {
        assert(!has_value());
        return std::move(*std::get_if<1>(&state_));
    }

private:
    std::variant<T, E> state_;
};

// Success without a value.
struct Done {};

template <class E>
using Status = Expected<Done, E>;

// Result of a kernel or model that fails with a fixed message.
template <class T>
using Outcome = Expected<T, Message>;

}  // namespace caldrith
