// Magnification of a uniform disk by a point lens (Witt & Mao 1994, ApJ 430,
// 505), in closed form with complete elliptic integrals.
#pragma once

#include <span>
#include <vector>

namespace caldrith {

// The magnification of a uniform star of radius `rho` whose centre lies `u`
// from the lens, both in Einstein radii. Never fails: an elliptic-integral
// error gives NaN. Within max(0.001ρ, 1e-5) of the limb (0.001ρ for
// ρ < 1e-4) it returns the on-limb value.
double witt_mao_magnification_scaled(double u, double rho);

// The same kernel with a near-limb window of 1e-5 ρ and no absolute floor,
// so that disks whose limb lies close to (but not on) the lens keep their
// exact value. Used where disks of many radii are differenced, which the
// wide window would flatten into a band of on-limb values.
double witt_mao_magnification_narrow(double u, double rho);

// The same magnification without a near-limb window, accurate to about
// 1e-13 relative for every u ≥ 0 and ρ > 0, the limb included: within 1% of
// the limb the closed form in Carlson's integrals with 1 − n formed from
// u − ρ, the lens exactly on the limb its own closed form, and the
// far-field and small-source forms of witt_mao_magnification_scaled.
double uniform_disk_magnification(double u, double rho);

// uniform_disk_magnification(u[i], rho) for every i, into `results`: the
// closed form's positions a batch at a time (the batch kernels), the others
// one by one.
void uniform_disk_magnifications(std::span<const double> u, double rho, double* results);

// One star (Einstein radius `re`, stellar radius `rstar`, in one unit) at
// each position of `l` (in stellar radii), in the order of `l`. Evaluated on
// the worker pool.
std::vector<double> witt_mao_magnification(std::span<const double> l, double re, double rstar);

// witt_mao_magnification for every pair (re[i], rstar[j]), Einstein radius
// outer: the result at i × len(rstar) + j belongs to that pair. Pairs and
// positions both evaluated on the worker pool.
std::vector<std::vector<double>> multi_witt_mao_magnification(std::span<const double> l,
                                                              std::span<const double> re,
                                                              std::span<const double> rstar);

}  // namespace caldrith
