#include "kernels/derivative.hpp"

#include <cmath>

namespace caldrith {

namespace {

double machine_epsilon_cbrt() {
    // Read through a volatile so that the compiler cannot fold the cube root
    // at build time: the value is the C library's result at run time (glibc
    // 2.36 gives the correctly rounded 0x1.965fea53d6e3dp-18).
    volatile double epsilon = 0x1p-52;
    return std::cbrt(epsilon);
}

}  // namespace

double cbrt_eps() {
    static const double value = machine_epsilon_cbrt();
    return value;
}

}  // namespace caldrith
