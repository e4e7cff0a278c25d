// The magnification of a small star near the lens by the series of the
// point-lens magnification, A(x) = Σ_n a_n x^(2n−1) (|x| < 2), summed over
// the star: a star of radius ρ (Einstein radii) whose centre lies u = zρ from
// the lens, with brightness f(t) at radius t (stellar radii), is magnified by
//
//   A = Σ_n a_n ρ^(2n−1) T_f,n(z) / N_f,
//   T_f,n(z) = (1/π) ∫_{|ζ|<1} f(|ζ|) |z − ζ|^(2n−1) dA,   N_f = ∫₀¹ f(t) 2t dt.
//
// The terms fall as (ρ(z + 1)/2)^(2n); for ρ ≤ 0.1 and z ≤ 4 ten orders reach
// 1e-13. Every T_f,n of the bases below is tabulated, as a polynomial on each
// interval of a mesh in z graded towards the limb (to 2^−40 of it) and the
// centre (tools/generate_star_series_tables.py), to 1e-13 relative, so that
// a law that is a weighted sum of the bases costs one polynomial per
// position once its weights and ρ are folded into the table's coefficients.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace caldrith {

// The bases of a star's brightness f(t), μ = √(1 − t²): every closed-form
// law but power-2 is a weighted sum of the first six; a profile linear in t
// between samples is a sum of disks of brightness 1 and t.
enum class StarBasis : std::size_t { uniform, mu, mu_squared, sqrt_mu, mu_three_halves, mu_log_mu, radius };
inline constexpr std::size_t STAR_BASES = 7;
using BasisWeights = std::array<double, STAR_BASES>;

// N_f = ∫₀¹ f(t) 2t dt of each basis.
inline constexpr BasisWeights BASIS_FLUX = {1.0, 2.0 / 3.0, 0.5, 0.8, 4.0 / 7.0, -2.0 / 9.0, 2.0 / 3.0};

// The series serves stars of radius up to SERIES_MAX_RHO at positions up to
// SERIES_MAX_Z stellar radii from their centre.
inline constexpr double SERIES_MAX_RHO = 0.1;
inline constexpr double SERIES_MAX_Z = 4.0;

// z on the tables' mesh: its interval, and there the local variable s in
// [−1, 1] and ds/dz.
struct MeshPoint {
    std::size_t interval;
    double s;
    double ds_dz;
};

// 0 ≤ z ≤ SERIES_MAX_Z.
MeshPoint locate_on_mesh(double z);

// The weights of the orders for a star of radius rho: a_n ρ^(2n−1) for the
// magnification, and their derivatives in ρ, (2n − 1) a_n ρ^(2n−2), for as
// many orders as ρ needs.
std::vector<double> series_order_weights(double rho);
std::vector<double> series_order_weights_derivative(double rho);

// Σ_n v_n T_f,n at a point of the mesh for one basis, with the order
// weights of a star (series_order_weights): N_f times the magnification of
// that star with brightness f, evaluated from the tables directly (for one
// position; many positions of one star share SeriesPolynomials instead).
double basis_series(StarBasis basis, std::span<const double> order_weights, const MeshPoint& at);

// The same with its derivatives in z and in the star's radius, given the
// derivatives of the order weights (series_order_weights_derivative).
struct SeriesGradient {
    double value;
    double d_z;
    double d_rho;
};
SeriesGradient basis_series_gradient(StarBasis basis, std::span<const double> order_weights,
                                     std::span<const double> order_slopes, const MeshPoint& at);

// Fixed weighted sums over bases and orders, Σ_f Σ_n w_f v_n T_f,n(z), one
// per weight set, as polynomials on each interval of the mesh formed the first
// time a position meets the interval: the positions of a chunk share them, and
// the sets share the lookups (several laws, or a law's derivatives). Not
// shared between threads: one per chunk of positions.
class SeriesPolynomials {
public:
    struct Weights {
        BasisWeights basis;
        std::vector<double> orders;
    };

    explicit SeriesPolynomials(std::span<const Weights> sets);

    std::size_t size() const noexcept { return sets_.size(); }

    // Every set's sum at a point of the mesh, into values[0, size()).
    void evaluate(const MeshPoint& at, double* values);

    // The same, and the derivatives in z of the first `sloped` sets into
    // slopes[0, sloped).
    void evaluate(const MeshPoint& at, double* values, double* slopes, std::size_t sloped);

private:
    // The interval's coefficients, the sets interleaved (coefficient j of set
    // k at j × size() + k), and their count.
    const double* polynomial(std::size_t interval, std::size_t& length);

    std::span<const Weights> sets_;
    std::unique_ptr<double[]> coefficients_;
    std::vector<unsigned char> lengths_;  // UNFORMED until the interval's polynomials are formed
};

}  // namespace caldrith
