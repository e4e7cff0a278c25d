// Polynomials with the coefficient of x^0 first, evaluated by Horner's rule
// from the highest coefficient down, one multiplication and one addition per
// coefficient.
#pragma once

#include <cstddef>
#include <span>

namespace caldrith {

constexpr double horner(std::span<const double> coefficients, double x) {
    double value = 0.0;
    for (std::size_t i = coefficients.size(); i-- > 0;) {
        value = value * x + coefficients[i];
    }
    return value;
}

// The polynomial and its derivative at x, by Horner's rule for both.
struct ValueAndDerivative {
    double value;
    double derivative;
};

constexpr ValueAndDerivative horner_with_derivative(std::span<const double> coefficients, double x) {
    double value = 0.0;
    double derivative = 0.0;
    for (std::size_t i = coefficients.size(); i-- > 0;) {
        derivative = derivative * x + value;
        value = value * x + coefficients[i];
    }
    return {value, derivative};
}

}  // namespace caldrith
