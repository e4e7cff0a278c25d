#include "models/sampled_star.hpp"

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

SampledSeriesStar::SampledSeriesStar(double rho, const LimbDarkeningLaw& law) : law_(law), rho_(rho), flux_(0.0) {
    const std::span<const double> t = law.sample_radii();
    const std::span<const double> intensity = law.sample_intensities();
    for (std::size_t j = 0; j + 1 < t.size(); ++j) {
        // ∫ I 2t dt over the piece, exactly: h (I_a (a + b) + (I_b − I_a)(2b + a)/3).
        const double a = t[j];
        const double b = t[j + 1];
        flux_ += (b - a) * (intensity[j] * (a + b) + (intensity[j + 1] - intensity[j]) * (2.0 * b + a) / 3.0);
    }
    order_weights_.reserve(t.size());
    for (const double r : t) {
        order_weights_.push_back(r > 0.0 ? series_order_weights(r * rho) : std::vector<double>{});
    }
}

SampledSeriesStar::DiskSums SampledSeriesStar::disk_sums(std::size_t j, double u) const {
    const double r = law_.sample_radii()[j];
    if (r == 0.0) {
        return {0.0, 0.0};
    }
    const double z = u / (r * rho_);
    if (z > SERIES_MAX_Z) {
        const std::size_t terms = star_far_field_terms(z);
        const double disk = r * rho_;
        return {r * r * star_far_field(u, disk, std::span<const double>(DISK_MOMENTS.uniform).first(terms)),
                r * r * r * (2.0 / 3.0) * star_far_field(u, disk, std::span<const double>(DISK_MOMENTS.radial).first(terms))};
    }
    const MeshPoint at = locate_on_mesh(z);
    const std::vector<double>& weights = order_weights_[j];
    return {r * r * basis_series(StarBasis::uniform, weights, at),
            r * r * r * basis_series(StarBasis::radius, weights, at)};
}

double SampledSeriesStar::operator()(double u) const {
    const std::span<const double> t = law_.sample_radii();
    const std::span<const double> intensity = law_.sample_intensities();
    DiskSums previous = disk_sums(0, u);
    double sum = 0.0;
    for (std::size_t j = 0; j + 1 < t.size(); ++j) {
        const DiskSums next = disk_sums(j + 1, u);
        const double rise = intensity[j + 1] - intensity[j];
        const double width = t[j + 1] - t[j];
        if (width < NARROW_PIECE) {
            sum -= rise * (previous.uniform + next.uniform) / 2.0;
        } else if (rise != 0.0) {
            const double integral = (t[j + 1] * next.uniform - next.radial) - (t[j] * previous.uniform - previous.radial);
            sum -= rise / width * integral;
        }
        previous = next;
    }
    sum += intensity.back() * previous.uniform;
    return sum / flux_;
}

}  // namespace caldrith
