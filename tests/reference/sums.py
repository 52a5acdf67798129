#!/usr/bin/env python3
"""Writes sums.tsv: for each data set below, the exact mean and sum of
squared deviations of its values (the doubles the program reads), computed
with Python's fractions and rounded once to double, beside the plain running
sums the record keeps (sum = sum + x, sum_x_2 = x * x + sum_x_2, in double
arithmetic, in order).

    python3 tests/reference/sums.py > tests/reference/sums.tsv

Lines: "NAME N MEAN SUM_SQUARES SUM SUM_X_2", numbers as hexadecimal floats.
tests/tallyf_test.cc builds the same data sets by the same rules.
"""
from fractions import Fraction


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
        print(name, n, float(mean).hex(), float(ss).hex(), s.hex(), q.hex())


main()
