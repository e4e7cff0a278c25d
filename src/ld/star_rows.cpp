#include "ld/star_rows.hpp"

#include <utility>

#include "pool/parallel_map.hpp"

namespace caldrith {

std::size_t star_row_count(const LimbDarkeningLaw& law, bool derivatives) {
    return derivatives ? 3 + law.parameter_count() : 1;
}

std::vector<StarColumns> star_rows(double* out, std::size_t n, std::span<const LimbDarkeningLaw* const> laws,
                                   bool derivatives) {
    std::vector<StarColumns> columns;
    auto next_row = [&] { return std::exchange(out, out + n); };
    for (const LimbDarkeningLaw* law : laws) {
        StarColumns& c = columns.emplace_back(StarColumns{next_row()});
        if (!derivatives) {
            continue;
        }
        c.d_u = next_row();
        c.d_rho = next_row();
        for (std::size_t j = 0; j < law->parameter_count(); ++j) {
            c.d_parameters.push_back(next_row());
        }
    }
    return columns;
}

void compute_star_rows(std::span<const double> u, double rho, std::span<const LimbDarkeningLaw* const> laws,
                       std::span<const StarColumns> columns) {
    const LimbDarkenedStars stars(rho, laws, columns);
    parallel_chunks(u, stars);
}

}  // namespace caldrith
