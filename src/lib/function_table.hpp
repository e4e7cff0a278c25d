// The eight functions of the module, in the order they are attached.
#pragma once

#include <span>

#include "lib/python.hpp"

namespace caldrith {

std::span<PyMethodDef> function_table();

}  // namespace caldrith
