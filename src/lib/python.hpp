// The one place that includes the CPython API, so that every unit of the
// module boundary sees the same configuration of it.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
