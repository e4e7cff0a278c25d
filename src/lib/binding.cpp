#include "lib/binding.hpp"

#include <cstring>
#include <string>
#include <vector>

namespace caldrith {
namespace {

std::string full_name(const FunctionDescription& description) {
    return std::string(description.name) + "()";
}

PythonError binding_error(std::string message) {
    return PythonError::lazy(PyExc_TypeError, std::move(message));
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string push_parameter_list(const std::vector<const char*>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            list += names.size() > 2 ? ", " : " ";
            if (i + 1 == names.size()) {
                list += "and ";
            }
        }
        list += "'";
        list += names[i];
        list += "'";
    }
    return list;
}

// The parameter whose name is exactly the keyword's UTF-8 text, if any.
std::ptrdiff_t parameter_index(const FunctionDescription& description, PyObject* keyword) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (text == nullptr) {
        PyErr_Clear();
        return -1;
    }
    for (std::size_t i = 0; i < description.parameters.size(); ++i) {
        const char* parameter = description.parameters[i];
        if (std::strlen(parameter) == static_cast<std::size_t>(size) &&
            std::memcmp(parameter, text, static_cast<std::size_t>(size)) == 0) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    return -1;
}

PythonError unexpected_keyword(const FunctionDescription& description, PyObject* keyword) {
    OwnedRef text = OwnedRef::steal(PyObject_Str(keyword));
    if (!text) {
        return fetch_error();
    }
    return binding_error(full_name(description) + " got an unexpected keyword argument '" +
                         lossy_utf8(text.get()) + "'");
}

}  // namespace

PyResult<Done> extract_arguments_fastcall(const FunctionDescription& description,
                                          PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames, std::span<PyObject*> slots) {
    const std::size_t count = description.parameters.size();
    const std::size_t positional = static_cast<std::size_t>(nargs);
    for (std::size_t i = 0; i < positional && i < count; ++i) {
        slots[i] = args[i];
    }
    if (positional > count) {
        return Unexpected{binding_error(full_name(description) + " takes " + std::to_string(count) +
                                        " positional arguments but " + std::to_string(positional) +
                                        " were given")};
    }
    const Py_ssize_t keywords = kwnames == nullptr ? 0 : py::tuple_size(kwnames);
    for (Py_ssize_t k = 0; k < keywords; ++k) {
        PyObject* keyword = py::tuple_item(kwnames, k);
        const std::ptrdiff_t index = parameter_index(description, keyword);
        if (index < 0) {
            return Unexpected{unexpected_keyword(description, keyword)};
        }
        if (slots[index] != nullptr) {
            return Unexpected{binding_error(full_name(description) +
                                            " got multiple values for argument '" +
                                            description.parameters[index] + "'")};
        }
        slots[index] = args[nargs + k];
    }
    if (positional < count) {
        std::vector<const char*> missing;
        for (std::size_t i = 0; i < count; ++i) {
            if (slots[i] == nullptr) {
                missing.push_back(description.parameters[i]);
            }
        }
        if (!missing.empty()) {
            return Unexpected{binding_error(
                full_name(description) + " missing " + std::to_string(missing.size()) +
                (missing.size() == 1 ? " required positional argument: "
                                     : " required positional arguments: ") +
                push_parameter_list(missing))};
        }
    }
    return Done{};
}

}  // namespace caldrith
