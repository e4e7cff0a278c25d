"""caldrith_ld for JAX: magnifications and light curves as JAX functions, with their derivatives.

::

    import jax
    jax.config.update("jax_enable_x64", True)        # caldrith_ld computes in float64: required
    import jax.numpy as jnp
    import caldrith_ld as ld
    import caldrith_ld.jax as ldj

    A = ldj.magnification(u, 0.01, ld.Quadratic, jnp.array([0.4, 0.25]))
    A_t = ldj.light_curve(t, t0, u0, tE, rho, ld.Linear, jnp.array([0.6]))
    jax.grad(lambda p: ldj.light_curve(t, *p, ld.Linear, c).sum())(jnp.array([t0, u0, tE, rho]))

Installed with the extra ``caldrith[jax]``; CPU only. ``law_type`` is a law class of caldrith_ld and
``coefficients`` a float64 array of its constructor's coefficients in order (Power2: c, alpha;
Uniform: none, the default). A tabulated profile keeps its sample radii fixed and takes its
intensities as the coefficients: ``law_type=functools.partial(ld.Sampled, r)``.

Each function is a JAX primitive that calls caldrith_ld's compiled core through XLA's foreign
function interface (no Python on the way), under ``jit`` as well. Its derivatives in u, rho and the
coefficients come with the value from one call of the core (``ld.gradient``'s), so ``grad``,
``jacfwd``, ``jacrev`` and ``jvp`` work, to first order (second derivatives raise
NotImplementedError); ``vmap`` works over u, rho and the coefficients (each star of a batch is
computed on its own; a batch of positions of one star is one call).

Values are checked as ``ld.magnification`` checks them (ValueError naming the argument) when they
are concrete; traced values (under ``jit``, ``vmap`` or a sampler) cannot be, and the core gives NaN
for a rho not finite and positive, a coefficient not finite, a power-2 exponent ≤ 0 or sampled
intensities all 0. Closed-form coefficients are taken as they are under a trace: a law negative
somewhere still gives its flux-weighted mean (the magnification is linear in them). A long call
cannot be stopped by Ctrl-C once XLA runs it.

``fit_fluxes(magnification, flux, sigma, blend=True)`` is ``caldrith_ld.fit_fluxes`` in JAX (the
source and blend fluxes, and χ² at them; NaN where they are undetermined), differentiable: its
gradient through the profile is the envelope theorem's.
"""

from __future__ import annotations

import dataclasses
import functools
from typing import Any, NamedTuple, cast

import jax
import jax.numpy as jnp
import numpy as np
from jax.extend.core import Primitive
from jax.interpreters import ad, batching, mlir

import caldrith_ld as ld
from caldrith_ld import _core
from caldrith_ld._fluxes import _least_squares, _separable

__all__ = ["magnification", "light_curve", "fit_fluxes", "FluxFit"]

for _name, _capsule in _core.xla_ffi_targets().items():
    jax.ffi.register_ffi_target(_name, _capsule, platform="cpu")

# Both take u of shape (*B, *S), rho of shape B and coefficients of shape (*B, m), B the batch
# dimensions of vmap (none outside it); see src/ld/xla_ffi.hpp. The first gives the magnification
# (*B, *S), the second its rows (*B, 3 + m, *S): value, dA/du, dA/drho, dA/dc_j.
_magnification_p = Primitive("caldrith_ld_magnification")
_gradient_p = Primitive("caldrith_ld_gradient")


def _magnification_shape(u: Any, rho: Any, coefficients: Any) -> tuple[int, ...]:
    return tuple(u.shape)


def _gradient_shape(u: Any, rho: Any, coefficients: Any) -> tuple[int, ...]:
    batch = rho.ndim
    return (*u.shape[:batch], coefficients.shape[-1] + 3, *u.shape[batch:])


def _define(primitive: Primitive, shape: Any, rows: int) -> None:
    """Abstract evaluation, lowering to the FFI target of the primitive's name and batching; `rows`
    is the number of axes between the batch and position axes of the result (0 or 1)."""
    primitive.def_abstract_eval(lambda u, rho, c, **_: jax.core.ShapedArray(shape(u, rho, c), jnp.float64))
    ffi = jax.ffi.ffi_lowering(primitive.name)

    def lower(ctx: Any, u: Any, rho: Any, c: Any, *, kind: int, radius: tuple[float, ...]) -> Any:
        return ffi(ctx, u, rho, c, kind=np.int64(kind), radius=np.asarray(radius, dtype=np.float64))

    mlir.register_lowering(primitive, lower, platform="cpu")

    def batch(args: Any, dims: Any, **params: Any) -> tuple[Any, int]:
        u, rho, c = args
        u_dim, rho_dim, c_dim = dims
        if rho_dim is None and c_dim is None:
            # One star: the batch is more positions, placed after the batch axes it already has.
            stars = rho.ndim
            return primitive.bind(jnp.moveaxis(u, u_dim, stars), rho, c, **params), stars + rows
        size = next(x.shape[d] for x, d in zip(args, dims) if d is not None)
        return primitive.bind(*(batching.bdim_at_front(x, d, size) for x, d in zip(args, dims)), **params), 0

    batching.primitive_batchers[primitive] = batch
    # Outside a trace, the primitive runs as a compiled one-operation program (one per law).
    primitive.def_impl(lambda *args, **params: _compiled(primitive, **params)(*args))


_COMPILED: dict[tuple[Primitive, int, tuple[float, ...]], Any] = {}


def _compiled(primitive: Primitive, *, kind: int, radius: tuple[float, ...]) -> Any:
    key = (primitive, kind, radius)
    if key not in _COMPILED:
        _COMPILED[key] = jax.jit(functools.partial(primitive.bind, kind=kind, radius=radius))
    return _COMPILED[key]


_define(_magnification_p, _magnification_shape, 0)
_define(_gradient_p, _gradient_shape, 1)


def _magnification_jvp(primals: Any, tangents: Any, *, kind: int, radius: tuple[float, ...]) -> tuple[Any, Any]:
    u, rho, c = primals
    rows = _gradient_p.bind(u, rho, c, kind=kind, radius=radius)
    stars = rho.ndim
    positions = (1,) * (u.ndim - stars)

    def row(j: int) -> Any:
        return jax.lax.index_in_dim(rows, j, axis=stars, keepdims=False)

    d_u, d_rho, d_c = tangents
    terms = []
    if type(d_u) is not ad.Zero:
        terms.append(row(1) * d_u)
    if type(d_rho) is not ad.Zero:
        terms.append(row(2) * d_rho.reshape(rho.shape + positions))
    if type(d_c) is not ad.Zero:
        parameters = jax.lax.slice_in_dim(rows, 3, rows.shape[stars], axis=stars)
        terms.append(jnp.sum(parameters * d_c.reshape(c.shape + positions), axis=stars))
    value = row(0)
    return value, (functools.reduce(jnp.add, terms) if terms else jnp.zeros_like(value))


def _second_order(*_: Any, **__: Any) -> Any:
    raise NotImplementedError("caldrith_ld.jax gives first derivatives only (grad, jacfwd, jacrev, jvp); "
                              "second derivatives (hessian, grad of grad) are not available")


ad.primitive_jvps[_magnification_p] = _magnification_jvp
ad.primitive_jvps[_gradient_p] = _second_order


def _law(law_type: Any) -> tuple[int, tuple[float, ...], int]:
    """(kind, sample radii, number of coefficients) of a law class or sampled-law partial."""
    if isinstance(law_type, functools.partial) and law_type.func is ld.Sampled:
        if len(law_type.args) != 1 or law_type.keywords:
            raise TypeError("a sampled law is functools.partial(ld.Sampled, r), r its sample radii")
        radii = list(law_type.args[0])
        radius = tuple(ld.Sampled(radii, [1.0] * len(radii)).r)  # checks the radii
        return ld.Sampled._kind, radius, len(radius)
    if law_type is ld.Sampled:
        raise TypeError("a sampled law takes its radii fixed and its intensities as the coefficients: "
                        "law_type=functools.partial(ld.Sampled, r)")
    if not (isinstance(law_type, type) and issubclass(law_type, ld.Law) and law_type is not ld.Law):
        raise TypeError(f"law_type must be a law class of caldrith_ld (ld.Linear, ld.Quadratic, ...), not {law_type!r}")
    return law_type._kind, (), len(dataclasses.fields(cast(Any, law_type)))


def _require_x64() -> None:
    if not jax.config.jax_enable_x64:
        raise RuntimeError("caldrith_ld.jax computes in float64: enable it first, "
                           "jax.config.update('jax_enable_x64', True) (or JAX_ENABLE_X64=1)")


def _float64(name: str, values: Any) -> Any:
    try:
        array = jnp.asarray(values, dtype=jnp.float64)
    except (TypeError, ValueError) as error:
        raise TypeError(f"{name} must be real numbers") from error
    return array


def _concrete(*values: Any) -> bool:
    return not any(isinstance(value, jax.core.Tracer) for value in values)


def _scalar(name: str, value: Any) -> Any:
    array = _float64(name, value)
    if array.shape != ():
        raise ValueError(f"{name} must be a scalar, not of shape {array.shape} (vmap over it for several)")
    return array


def magnification(u: Any, rho: Any, law_type: Any = ld.Uniform, coefficients: Any = ()) -> Any:
    """The magnification of ``ld.magnification(u, rho, law_type(*coefficients))`` as a JAX function:
    ``u`` of any shape (kept), ``rho`` a scalar, ``coefficients`` of shape (m,) for a law of m
    coefficients. Differentiable in all three, and batchable with ``vmap``."""
    _require_x64()
    kind, radius, count = _law(law_type)
    u = _float64("u", u)
    rho = _scalar("rho", rho)
    c = _float64("coefficients", coefficients)
    if c.shape != (count,):
        raise ValueError(f"coefficients must be of shape ({count},) for {law_type!r}, not {c.shape}")
    if _concrete(rho, c):
        ld.magnification([], float(rho), law_type(np.asarray(c)) if radius else law_type(*np.asarray(c).tolist()))
    return _magnification_p.bind(u, rho, c, kind=kind, radius=radius)


def light_curve(t: Any, t0: Any, u0: Any, tE: Any, rho: Any, law_type: Any = ld.Uniform,  # noqa: N803
                coefficients: Any = ()) -> Any:
    """``ld.light_curve`` as a JAX function: the magnification at times ``t`` on the trajectory
    u = √(u0² + ((t − t0)/tE)²), differentiable in t0, u0, tE, rho and the coefficients (where u = 0
    the derivatives in t0, u0 and tE are 0, as in ``ld.light_curve_gradient``)."""
    t = _float64("t", t)
    t0, u0, tE = _scalar("t0", t0), _scalar("u0", u0), _scalar("tE", tE)  # noqa: N806
    if _concrete(tE) and not float(tE) > 0.0:
        raise ValueError(f"tE must be positive, not {float(tE)!r}")
    tau = (t - t0) / tE
    square = u0 * u0 + tau * tau
    inside = square > 0.0
    u = jnp.where(inside, jnp.sqrt(jnp.where(inside, square, 1.0)), 0.0)
    return magnification(u, rho, law_type, coefficients)


class FluxFit(NamedTuple):
    """The best fluxes of ``fit_fluxes`` and χ² there, as JAX scalars."""

    source: Any
    blend: Any
    chi2: Any


def fit_fluxes(magnification: Any, flux: Any, sigma: Any, blend: bool = True) -> FluxFit:
    """``caldrith_ld.fit_fluxes`` in JAX: the source and blend fluxes of flux = source · magnification
    + blend by weighted least squares (weights 1/sigma²; ``blend=False`` fixes the blend at 0) and χ²
    there; NaN where they are undetermined (a constant magnification with a free blend). Arrays of
    one shape (ValueError otherwise). Its gradient in the magnification is that of the profiled χ²."""
    _require_x64()
    a = _float64("magnification", magnification)
    arrays = {"flux": _float64("flux", flux), "sigma": _float64("sigma", sigma)}
    for name, values in arrays.items():
        if values.shape != a.shape:
            raise ValueError(f"{name} must have the shape of magnification, {a.shape}, not {values.shape}")
    weight = 1.0 / (arrays["sigma"] * arrays["sigma"])
    source, blend_flux, residual, spread, square = _least_squares(jnp, a, arrays["flux"], weight, blend)
    separable = _separable(spread, square, blend)
    chi2 = jnp.sum(weight * residual * residual)
    return FluxFit(*(jnp.where(separable, x, jnp.nan) for x in (source, blend_flux, chi2)))
