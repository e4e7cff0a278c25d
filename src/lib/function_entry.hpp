// The C entry of a module function, generated from its description, the
// kinds of its parameters and the model that computes its result:
//
//   bind the arguments -> convert each parameter in declaration order
//   (the first failure ends the call) -> call the model -> build the result
//   (a model error is raised as RuntimeError with the model's own text).
// While the model computes, pending signals are checked between positions
// and a handler that raises stops it.
#pragma once

#include <array>
#include <optional>
#include <tuple>
#include <utility>

#include "lib/binding.hpp"
#include "lib/call_frame.hpp"
#include "lib/conversion.hpp"
#include "lib/results.hpp"

namespace caldrith {

namespace detail {

template <class T>
PyResult<OwnedRef> model_result(T&& value) {
    return to_python(std::forward<T>(value));
}

template <class T>
PyResult<OwnedRef> model_result(Outcome<T>&& outcome) {
    if (!outcome) {
        return Unexpected{PythonError::lazy(PyExc_RuntimeError, outcome.error())};
    }
    return to_python(*outcome);
}

// A model of the module boundary's own that can fail with a Python error.
template <class T>
PyResult<OwnedRef> model_result(PyResult<T>&& result) {
    if (!result) {
        return Unexpected{std::move(result).error()};
    }
    return to_python(std::move(*result));
}

template <class... Kinds, std::size_t... I>
std::optional<PythonError> convert_arguments(const FunctionDescription& description,
                                             const std::array<PyObject*, sizeof...(Kinds)>& slots,
                                             std::tuple<typename Kinds::type...>& values,
                                             std::index_sequence<I...>) {
    std::optional<PythonError> failure;
    auto convert = [&]<class Kind, std::size_t Index>() {
        auto converted = Kind::convert(slots[Index], description.parameters[Index]);
        if (!converted) {
            failure.emplace(std::move(converted).error());
            return false;
        }
        std::get<Index>(values) = std::move(*converted);
        return true;
    };
    (convert.template operator()<Kinds, I>() && ...);
    return failure;
}

}  // namespace detail

template <const FunctionDescription& Description, auto Model, class... Kinds>
PyObject* function_entry(PyObject* /*self*/, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return call_frame([&]() -> PyResult<OwnedRef> {
        std::array<PyObject*, sizeof...(Kinds)> slots{};
        if (auto bound = extract_arguments_fastcall(Description, args, nargs, kwnames, slots); !bound) {
            return Unexpected{std::move(bound).error()};
        }
        // Long conversions and computations alike stop at a signal handler
        // that raises.
        PendingSignals signals;
        const InterruptionScope interruptible(signals);
        std::tuple<typename Kinds::type...> values;
        if (auto failure = detail::convert_arguments<Kinds...>(
                Description, slots, values, std::index_sequence_for<Kinds...>{})) {
            return Unexpected{std::move(*failure)};
        }
        return detail::model_result(std::apply(Model, std::move(values)));
    });
}

// Functions called with the fast convention and keyword names.
inline constexpr int FASTCALL_WITH_KEYWORDS = METH_FASTCALL | METH_KEYWORDS;

// The table entry of a function: its entry point generated from the
// description, the model and the parameter kinds, which ignores its self;
// `signature` is its ml_doc. The eight functions of caldrith are static as
// well (attached one by one, their self reads None); a module's own method
// table cannot hold static functions.
template <const FunctionDescription& Description, auto Model, class... Kinds>
constexpr PyMethodDef method(const char* signature, int flags = FASTCALL_WITH_KEYWORDS | METH_STATIC) {
    py::FastCallEntry entry = function_entry<Description, Model, Kinds...>;
    return {Description.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)), flags,
            signature};
}

}  // namespace caldrith
