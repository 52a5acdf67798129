#!/usr/bin/env python3
"""The bounds of the mean's interval, mean -+ 2 SE, with the exact mean and
the standard error taken to 80 digits before it is doubled and added (the
values of the interval cases in tests/cli/tabular-report.cases)."""
from decimal import Decimal, getcontext
from fractions import Fraction

getcontext().prec = 80


def bounds(values):
    values = [Fraction(v) for v in values]
    n = len(values)
    mean = sum(values) / n
    ss = sum((v - mean) ** 2 for v in values)
    se2 = ss / (n * (n - 1))
    se = (Decimal(se2.numerator) / Decimal(se2.denominator)).sqrt()
    m = Decimal(mean.numerator) / Decimal(mean.denominator)
    return "(%f, %f)" % (float(m - 2 * se), float(m + 2 * se))


print("mixed 30001:", bounds(["1e15"] * 14671 + ["-1e15"] * 14330 +
                             ["1"] * 333 + ["0.5"] * 333 + ["3"] * 334))
print("two values:", bounds([129.96, 712.295287]))
