#!/usr/bin/env python3
"""Prints the table of ExactFixed.FormatsLikePrintfOfTheExactValue in
tests/tallyf_test.cc: x * a/2 + y * b/2 for awkward doubles, as "%f" would
print the exact value (six decimals, ties to even, '-' below zero)."""

from decimal import Decimal, ROUND_HALF_EVEN, getcontext
from fractions import Fraction as F

getcontext().prec = 1200

CASES = [
    (10000000000.0078125, 2, -1e-300, -2),   # a tie for the double, not exact
    (0.0078125, 2, 0.0, 0),                  # an exact tie: to even
    (0.0000025, 2, 0.0, 0),                  # beside a tie: its bits decide
    (-1e-9, 2, 0.0, 0),                      # rounds to zero, stays negative
    (5e-324, 1, 0.0, 0),                     # half the smallest subnormal
    (1.7976931348623157e308, 5, 1.7976931348623157e308, 5),  # 5 x max
    (0.1, 5, 0.3, -3),                       # a fence: 2.5 * 0.1 - 1.5 * 0.3
    (-2.5, 2, 2.5, 2),                       # exactly zero
]


def fmt(v):
    d = (Decimal(v.numerator) / Decimal(v.denominator)).quantize(
        Decimal("0.000001"), rounding=ROUND_HALF_EVEN)
    return ("-" if v < 0 else "") + f"{abs(d):f}"


for x, a, y, b in CASES:
    v = F(x) * F(a, 2) + F(y) * F(b, 2)
    print(f'        {{{x.hex()}, {a}, {y.hex()}, {b}, "{fmt(v)}"}},')
