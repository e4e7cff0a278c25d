// Room for the doubles of a sequence argument, reserved from the length that
// the argument reports.
#pragma once

#include <vector>

#include "lib/python.hpp"

namespace caldrith {

// Reserves room for `length` doubles, as a hint only: room that cannot be
// allocated leaves the array to grow as the items arrive. A length of 2^60
// or more, whose doubles would exceed the largest signed size in bytes, is
// the fault "capacity overflow".
void reserve_capacity(std::vector<double>& values, Py_ssize_t length);

}  // namespace caldrith
