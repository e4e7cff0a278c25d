#include "lib/function_table.hpp"

#include <array>

#include "lib/function_entry.hpp"
#include "models/flux_map.hpp"
#include "models/heyrovsky.hpp"
#include "models/integrated.hpp"
#include "models/witt_mao.hpp"

namespace caldrith {
namespace {

using Float = FloatParameter;
using Sequence = SequenceParameter;

constexpr std::array<const char*, 3> L_RE_RSTAR = {"l", "re", "rstar"};
constexpr std::array<const char*, 4> L_R_RE_RSTAR = {"l", "r", "re", "rstar"};
constexpr std::array<const char*, 5> L_RE_RSTAR_BL_BF = {"l", "re", "rstar", "bl", "bf"};

constexpr FunctionDescription WITT_MAO{"witt_mao_magnification", L_RE_RSTAR};
constexpr FunctionDescription INTEGRATED_WITT_MAO{"integrated_witt_mao_magnification", L_RE_RSTAR};
constexpr FunctionDescription INTEGRATED_FLUX_MAP_WITT_MAO{"integrated_flux_map_witt_mao_magnification",
                                                           L_RE_RSTAR_BL_BF};
constexpr FunctionDescription MULTI_WITT_MAO{"multi_witt_mao_magnification", L_RE_RSTAR};
constexpr FunctionDescription HEYROVSKY{"heyrovsky_magnification", L_R_RE_RSTAR};
constexpr FunctionDescription INTEGRATED_HEYROVSKY{"integrated_heyrovsky_magnification", L_RE_RSTAR};
constexpr FunctionDescription INTEGRATED_FLUX_MAP_HEYROVSKY{"integrated_flux_map_heyrovsky_magnification",
                                                            L_RE_RSTAR_BL_BF};
constexpr FunctionDescription DISCRETE_FLUX_MAP_HEYROVSKY{"discrete_flux_map_heyrovsky_magnification",
                                                          L_RE_RSTAR_BL_BF};


// ml_doc holds the signature line alone, so the interpreter exposes it as
// __text_signature__ and __doc__ is None.
std::array<PyMethodDef, 8> TABLE = {
    method<WITT_MAO, &witt_mao_magnification, Sequence, Float, Float>(
        "witt_mao_magnification(l, re, rstar)\n--\n\n"),
    method<INTEGRATED_WITT_MAO, &integrated_witt_mao_magnification, Sequence, Float, Float>(
        "integrated_witt_mao_magnification(l, re, rstar)\n--\n\n"),
    method<INTEGRATED_FLUX_MAP_WITT_MAO, &integrated_flux_map_witt_mao_magnification, Sequence, Float, Float,
           Sequence, Sequence>("integrated_flux_map_witt_mao_magnification(l, re, rstar, bl, bf)\n--\n\n"),
    method<MULTI_WITT_MAO, &multi_witt_mao_magnification, Sequence, Sequence, Sequence>(
        "multi_witt_mao_magnification(l, re, rstar)\n--\n\n"),
    method<HEYROVSKY, &heyrovsky_magnification, Float, Float, Float, Float>(
        "heyrovsky_magnification(l, r, re, rstar)\n--\n\n"),
    method<INTEGRATED_HEYROVSKY, &integrated_heyrovsky_magnification, Sequence, Float, Float>(
        "integrated_heyrovsky_magnification(l, re, rstar)\n--\n\n"),
    method<INTEGRATED_FLUX_MAP_HEYROVSKY, &integrated_flux_map_heyrovsky_magnification, Sequence, Float, Float,
           Sequence, Sequence>("integrated_flux_map_heyrovsky_magnification(l, re, rstar, bl, bf)\n--\n\n"),
    method<DISCRETE_FLUX_MAP_HEYROVSKY, &discrete_flux_map_heyrovsky_magnification, Sequence, Float, Float,
           Sequence, Sequence>("discrete_flux_map_heyrovsky_magnification(l, re, rstar, bl, bf)\n--\n\n"),
};

}  // namespace

std::span<PyMethodDef> function_table() { return TABLE; }

}  // namespace caldrith
