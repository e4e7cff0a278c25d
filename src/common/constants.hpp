// The double values of π used throughout the models.
#pragma once

namespace caldrith {

inline constexpr double PI = 3.141592653589793;
inline constexpr double HALF_PI = 1.5707963267948966;
inline constexpr double TWO_PI = 6.283185307179586;

}  // namespace caldrith
