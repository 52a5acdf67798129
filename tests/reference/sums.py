#!/usr/bin/env python3
"""Writes sums.tsv: for each data set below, the exact mean and sum of
squared deviations of its values (the doubles the program reads), computed
with Python's fractions and rounded once to double (ties to even; beyond the
range of doubles, inf), beside the plain running sums the record keeps (sum =
sum + x, sum_x_2 = x * x + sum_x_2, in double arithmetic, in order), and the
bounds of the mean +- 2 SE interval: the exact mean +- twice the SE the
program derives from that sum of squares (var = SS / (n - 1), SD = sqrt(var),
SE = SD / sqrt(n), each a double step), each rounded once.

    python3 tests/reference/sums.py > tests/reference/sums.tsv

Lines: "NAME N MEAN SUM_SQUARES SUM SUM_X_2 CI_LOW CI_HIGH", numbers as
hexadecimal floats.
tests/tallyf_test.cc builds the same data sets by the same rules.
"""
import math
from fractions import Fraction


def rounded(x):
    """The exact x rounded once to a double; inf beyond their range."""
    try:
        return float(x)
    except OverflowError:
        return math.inf if x > 0 else -math.inf


def data_sets():
    # NIST StRD univariate NumAcc1, NumAcc3 and NumAcc4 (sample SD 1, 0.1
    # and 0.1), their values read from the decimal text.
    yield "numacc1", [10000001.0, 10000003.0, 10000002.0]
    yield "numacc3", [float("1000000.2")] + [float("1000000.1"),
                                              float("1000000.3")] * 500
    yield "numacc4", [float("10000000.2")] + [float("10000000.1"),
                                               float("10000000.3")] * 500
    # A day of epoch seconds, spread over the day in a fixed order.
    yield "epoch", [float(1700000000 + i * 7919 % 86401) for i in range(100000)]
    # 10^12 + 0 ... 10, over and over.
    yield "tera", [float(10**12 + i % 11) for i in range(20000)]
    # 10^9 in steps of a thousandth, read from the decimal text.
    yield "milli", [float(f"{1000000000 + i // 1000}.{i % 1000:03d}")
                    for i in range(100000)]
    # Mixed signs and magnitudes far from the first value: the deviations
    # themselves are rounded.
    yield "mixed", [(i % 7 - 3) * 1e15 + i * 0.1 for i in range(1, 1001)]
    # A first value far above the rest: every deviation from it is rounded,
    # each by its own error.
    yield "far", [1e6] + [i * 0.001 for i in range(1, 100001)]
    # Near and beyond the largest double: sums and squares that overflow
    # where the mean and the sum of squares do not.
    big = 1.7976931348623157e308
    yield "one-huge", [1e301]
    yield "two-largest", [1e308, 1e308]
    yield "huge-pair", [1e152, 0.0]
    yield "wide-pair", [1.5e154, 0.0]
    yield "beyond", [1e155, -1e155]
    yield "cancel", [1e308, 1e308, -1e308, -1e308, 3.0]
    yield "ends", [6.66e153, big, -big]
    # The exact mean 2^-1075 is a tie, rounded to even (0) in either order.
    yield "tie", [5e-324, 0.0]
    yield "tie-reversed", [0.0, 5e-324]
    # Mean and 2 SE nearly cancel in the lower bound.
    yield "interval", ([1e15] * 14671 + [-1e15] * 14330 + [1.0] * 333 +
                       [0.5] * 333 + [3.0] * 334)


def main():
    for name, xs in data_sets():
        n = len(xs)
        exact = [Fraction(x) for x in xs]
        total = sum(exact)
        mean = total / n
        ss = sum(x * x for x in exact) - total * total / n
        s = 0.0
        q = 0.0
        for x in xs:
            s = s + x
            q = x * x + q
        se = math.sqrt(rounded(ss) / (n - 1)) / math.sqrt(n) if n > 1 else 0.0
        if math.isfinite(se):
            low = rounded(mean - 2 * Fraction(se))
            high = rounded(mean + 2 * Fraction(se))
        else:
            low, high = rounded(mean) - 2 * se, 2 * se + rounded(mean)
        print(name, n, rounded(mean).hex(), rounded(ss).hex(), s.hex(),
              q.hex(), low.hex(), high.hex())


main()
