// caldrith_ld._core, the compiled core of the modellers' module: a
// multi-phase initialised module without state whose functions the Python
// layer calls (caldrith_ld/__init__.py).
#include <array>

#include "ld/functions.hpp"
#include "ld/xla_ffi.hpp"
#include "lib/call_frame.hpp"
#include "lib/function_entry.hpp"

namespace caldrith {
namespace {

using Array = InputArrayParameter;
using Output = OutputArrayParameter;
using Integer = IntegerParameter;
using Float = FloatParameter;
using Sequence = SequenceParameter;

constexpr std::array<const char*, 4> MAGNIFICATION_PARAMETERS = {"u", "out", "rho", "laws"};
constexpr std::array<const char*, 6> INTENSITY_PARAMETERS = {"mu", "out", "kind", "coefficients", "radius",
                                                             "intensity"};
constexpr std::array<const char*, 4> CHECK_PARAMETERS = {"kind", "coefficients", "radius", "intensity"};
constexpr std::array<const char*, 0> NO_PARAMETERS = {};

constexpr FunctionDescription MAGNIFICATION{"magnification", MAGNIFICATION_PARAMETERS};
constexpr FunctionDescription GRADIENT{"gradient", MAGNIFICATION_PARAMETERS};
constexpr FunctionDescription INTENSITY{"intensity", INTENSITY_PARAMETERS};
constexpr FunctionDescription CHECK_LAW{"check_law", CHECK_PARAMETERS};
constexpr FunctionDescription XLA_FFI_TARGETS{"xla_ffi_targets", NO_PARAMETERS};

PyMethodDef METHODS[] = {
    method<MAGNIFICATION, &ld_magnification, Array, Output, Float, LawsParameter>(
        "magnification(u, out, rho, laws)\n--\n\n", FASTCALL_WITH_KEYWORDS),
    method<GRADIENT, &ld_gradient, Array, Output, Float, LawsParameter>("gradient(u, out, rho, laws)\n--\n\n",
                                                                         FASTCALL_WITH_KEYWORDS),
    method<INTENSITY, &ld_intensity, Array, Output, Integer, Sequence, Sequence, Sequence>(
        "intensity(mu, out, kind, coefficients, radius, intensity)\n--\n\n", FASTCALL_WITH_KEYWORDS),
    method<CHECK_LAW, &ld_check_law, Integer, Sequence, Sequence, Sequence>(
        "check_law(kind, coefficients, radius, intensity)\n--\n\n", FASTCALL_WITH_KEYWORDS),
    method<XLA_FFI_TARGETS, &ld_xla_ffi_targets>("xla_ffi_targets()\n--\n\n", FASTCALL_WITH_KEYWORDS),
    {nullptr, nullptr, 0, nullptr},
};

// The stable ABI has no Py_mod_gil before 3.13's; a build for it loads only
// into interpreters with the lock, where the slot says nothing.
PyModuleDef_Slot SLOTS[] = {
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef DEFINITION = {
    PyModuleDef_HEAD_INIT,
    "caldrith_ld._core",
    "The compiled core of caldrith_ld: limb-darkened magnifications on arrays of doubles.",
    0,
    METHODS,
    SLOTS,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace caldrith

PyMODINIT_FUNC PyInit__core() { return PyModuleDef_Init(&caldrith::DEFINITION); }
