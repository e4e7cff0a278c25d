#include "lib/capacity.hpp"

#include <new>

#include "common/fault.hpp"

namespace caldrith {

void reserve_capacity(std::vector<double>& values, Py_ssize_t length) {
    constexpr Py_ssize_t CAPACITY_LIMIT = Py_ssize_t{1} << 60;
    if (length >= CAPACITY_LIMIT) {
        raise_fault("capacity overflow");
    }
    try {
        values.reserve(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace caldrith
