#include "models/sampled_star.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "models/far_field.hpp"

namespace caldrith {
namespace {

constexpr double NARROW_PIECE = 1e-5;

// ⟨t^2k⟩, k = 1..20, of a disk of brightness 1 and of brightness t: 1/(k+1)
// and 3/(2k+3).
struct DiskMoments {
    std::array<double, STAR_FAR_FIELD_TERMS> uniform;
    std::array<double, STAR_FAR_FIELD_TERMS> radial;
};

constexpr DiskMoments DISK_MOMENTS = [] {
    DiskMoments m{};
    for (std::size_t k = 1; k <= STAR_FAR_FIELD_TERMS; ++k) {
        m.uniform[k - 1] = 1.0 / static_cast<double>(k + 1);
        m.radial[k - 1] = 3.0 / static_cast<double>(2 * k + 3);
    }
    return m;
}();

}  // namespace

SampledSeriesStar::SampledSeriesStar(double rho, const LimbDarkeningLaw& law)
    : law_(law), rho_(rho), flux_(0.0), flux_derivatives_(law.sample_radii().size(), 0.0) {
    const std::span<const double> t = law.sample_radii();
    const std::span<const double> intensity = law.sample_intensities();
    for (std::size_t j = 0; j + 1 < t.size(); ++j) {
        // ∫ I 2t dt over the piece, exactly: h (I_a (a + b) + (I_b − I_a)(2b + a)/3),
        // of which h (2a + b)/3 per unit of I_a and h (a + 2b)/3 per unit of I_b.
        const double a = t[j];
        const double b = t[j + 1];
        const double h = b - a;
        flux_ += h * (intensity[j] * (a + b) + (intensity[j + 1] - intensity[j]) * (2.0 * b + a) / 3.0);
        flux_derivatives_[j] += h * (2.0 * a + b) / 3.0;
        flux_derivatives_[j + 1] += h * (a + 2.0 * b) / 3.0;
    }
    order_weights_.reserve(t.size());
    order_slopes_.reserve(t.size());
    for (const double r : t) {
        order_weights_.push_back(r > 0.0 ? series_order_weights(r * rho) : std::vector<double>{});
        order_slopes_.push_back(r > 0.0 ? series_order_weights_derivative(r * rho) : std::vector<double>{});
    }
}

SampledSeriesStar::DiskSums SampledSeriesStar::disk_sums(std::size_t j, double u) const {
    const double r = law_.sample_radii()[j];
    if (r == 0.0) {
        return {0.0, 0.0};
    }
    const double disk = r * rho_;
    const double z = u / disk;
    if (z > SERIES_MAX_Z) {
        const std::size_t terms = star_far_field_terms(z);
        return {r * r * star_far_field(u, disk, std::span<const double>(DISK_MOMENTS.uniform).first(terms)),
                r * r * r * (2.0 / 3.0) * star_far_field(u, disk, std::span<const double>(DISK_MOMENTS.radial).first(terms))};
    }
    const MeshPoint at = locate_on_mesh(z);
    const std::vector<double>& weights = order_weights_[j];
    return {r * r * basis_series(StarBasis::uniform, weights, at),
            r * r * r * basis_series(StarBasis::radius, weights, at)};
}

SampledSeriesStar::DiskGradient SampledSeriesStar::disk_gradient(std::size_t j, double u) const {
    const double r = law_.sample_radii()[j];
    if (r == 0.0) {
        return {};
    }
    const double disk = r * rho_;
    const double z = u / disk;
    const double area = r * r;
    const double radial = r * r * r;
    if (z > SERIES_MAX_Z) {
        const std::size_t terms = star_far_field_terms(z);
        const FarFieldGradient uniform =
            star_far_field_gradient(u, disk, std::span<const double>(DISK_MOMENTS.uniform).first(terms), {}, {});
        const FarFieldGradient cone =
            star_far_field_gradient(u, disk, std::span<const double>(DISK_MOMENTS.radial).first(terms), {}, {});
        const double cone_flux = radial * (2.0 / 3.0);
        // The disk's radius rρ moves with ρ at r times its pace.
        return {{area * uniform.value, cone_flux * cone.value},
                {area * uniform.d_u, cone_flux * cone.d_u},
                {area * r * uniform.d_rho, cone_flux * r * cone.d_rho}};
    }
    const MeshPoint at = locate_on_mesh(z);
    const SeriesGradient uniform = basis_series_gradient(StarBasis::uniform, order_weights_[j], order_slopes_[j], at);
    const SeriesGradient cone = basis_series_gradient(StarBasis::radius, order_weights_[j], order_slopes_[j], at);
    // At fixed u, z = u/(rρ) falls as ρ grows: ∂/∂ρ = r ∂/∂(rρ) − (z/ρ) ∂/∂z; ∂/∂u = ∂/∂z / (rρ).
    return {{area * uniform.value, radial * cone.value},
            {area * uniform.d_z / disk, radial * cone.d_z / disk},
            {area * (r * uniform.d_rho - z / rho_ * uniform.d_z), radial * (r * cone.d_rho - z / rho_ * cone.d_z)}};
}

double SampledSeriesStar::piece_mean(std::size_t j, const DiskSums& lo, const DiskSums& hi) const {
    const std::span<const double> t = law_.sample_radii();
    const double width = t[j + 1] - t[j];
    if (width < NARROW_PIECE) {
        return (lo.uniform + hi.uniform) / 2.0;
    }
    return ((t[j + 1] * hi.uniform - hi.radial) - (t[j] * lo.uniform - lo.radial)) / width;
}

double SampledSeriesStar::operator()(double u) const {
    const std::span<const double> intensity = law_.sample_intensities();
    DiskSums previous = disk_sums(0, u);
    double sum = 0.0;
    for (std::size_t j = 0; j + 1 < intensity.size(); ++j) {
        const DiskSums next = disk_sums(j + 1, u);
        if (const double rise = intensity[j + 1] - intensity[j]; rise != 0.0) {
            sum -= rise * piece_mean(j, previous, next);
        }
        previous = next;
    }
    sum += intensity.back() * previous.uniform;
    return sum / flux_;
}

StarDerivatives SampledSeriesStar::gradient(double u, std::span<double> d_intensities) const {
    const std::span<const double> intensity = law_.sample_intensities();
    const std::size_t last = intensity.size() - 1;
    std::fill(d_intensities.begin(), d_intensities.end(), 0.0);
    DiskGradient previous = disk_gradient(0, u);
    StarDerivatives sum{0.0, 0.0, 0.0};
    for (std::size_t j = 0; j < last; ++j) {
        const DiskGradient next = disk_gradient(j + 1, u);
        const double rise = intensity[j + 1] - intensity[j];
        const double mean = piece_mean(j, previous.value, next.value);
        sum.value -= rise * mean;
        sum.d_u -= rise * piece_mean(j, previous.d_u, next.d_u);
        sum.d_rho -= rise * piece_mean(j, previous.d_rho, next.d_rho);
        d_intensities[j] += mean;
        d_intensities[j + 1] -= mean;
        previous = next;
    }
    sum.value += intensity[last] * previous.value.uniform;
    sum.d_u += intensity[last] * previous.d_u.uniform;
    sum.d_rho += intensity[last] * previous.d_rho.uniform;
    d_intensities[last] += previous.value.uniform;
    const double value = sum.value / flux_;
    for (std::size_t i = 0; i <= last; ++i) {
        d_intensities[i] = (d_intensities[i] - value * flux_derivatives_[i]) / flux_;
    }
    return {value, sum.d_u / flux_, sum.d_rho / flux_};
}

}  // namespace caldrith
