"""Rounding of high-precision mpmath values to doubles, for the table generators."""

import math
import sys

import mpmath


def nearest_double(exact):
    """The double nearest to an mpf, confirmed against both neighbours."""
    guess = float(exact)
    candidates = [math.nextafter(guess, -math.inf), guess, math.nextafter(guess, math.inf)]
    distances = [abs(mpmath.mpf(c) - exact) for c in candidates]
    best = min(range(3), key=lambda i: distances[i])
    others = sorted(d for i, d in enumerate(distances) if i != best)
    # A value this close to a midpoint would need more working precision.
    if others[0] - distances[best] < mpmath.mpf(2) ** -200 * abs(exact):
        sys.exit(f"rounding of {exact} is too close to a tie")
    return candidates[best]
