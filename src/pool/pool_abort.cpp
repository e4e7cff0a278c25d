#include "pool/pool_abort.hpp"

#include <cstdio>
#include <cstdlib>

namespace caldrith::detail {

void abort_pool() noexcept {
    std::fputs("Rayon: detected unexpected panic; aborting\n", stderr);
    std::abort();
}

}  // namespace caldrith::detail
