#!/usr/bin/env python3
"""The two-column statistics against exact arithmetic at every scale.

Random pairs of mixed magnitudes, the first column scaled by 2^a and the
second by 2^b (a and b drawn from -1000 to 900 each, apart or alike, or the
second column the first times 2^(b - a), or a column without spread): covariance, correlation, regression
and paired-t must print the exact values (Python's fractions; square roots
from mpmath at 400 bits) rounded once, and inf where that rounding
overflows.  Usage: pairs_check.py NUMTALLY [TRIALS]
"""
import math
import random
import subprocess
import sys
from fractions import Fraction

import mpmath

mpmath.mp.prec = 400


def mp(q):
    return mpmath.mpf(q.numerator) / q.denominator


def text(value):
    """"%f" of the double nearest value (a Fraction or an mpf); a zero
    double, as one below the doubles rounds to, prints without a sign."""
    try:
        return "%f" % (float(value) or 0.0)
    except OverflowError:
        return "inf" if value > 0 else "-inf"


def doubtful(value):
    """True where value lies within 2^-90 (relative) of a midpoint between
    two doubles: the program rounds from about twice double precision and
    need not round such values right."""
    if isinstance(value, mpmath.mpf):
        man, exp = value.man_exp
        q = Fraction(man) * Fraction(2) ** exp
    else:
        q = Fraction(value)
    try:
        f = float(q)
    except OverflowError:
        return False
    if f == 0 or math.isinf(f):
        return False
    g = math.nextafter(f, math.inf if q > f else -math.inf)
    return abs(q - (Fraction(f) + Fraction(g)) / 2) < abs(q) * Fraction(2) ** -90


def expected(xs, ys):
    n = len(xs)
    fx, fy = [Fraction(x) for x in xs], [Fraction(y) for y in ys]
    mx, my = sum(fx) / n, sum(fy) / n
    cxx = sum((x - mx) ** 2 for x in fx)
    cyy = sum((y - my) ** 2 for y in fy)
    cxy = sum((x - mx) * (y - my) for x, y in zip(fx, fy))
    ds = [x - y for x, y in zip(fx, fy)]
    md = sum(ds) / n
    vd = sum((d - md) ** 2 for d in ds) / (n - 1)
    want = {
        "pop-covariance": cxy / n,
        "sample-covariance": cxy / (n - 1),
        "first-mean": mx,
        "second-mean": my,
        "difference": md,
        "difference-SD": mpmath.sqrt(mp(vd)),
    }
    if vd != 0:
        want["t"] = mp(md) / mpmath.sqrt(mp(vd / n))
    if cxx == 0 or cyy == 0:  # a column without spread: the rest is nan
        return {k: v for k, v in want.items() if not doubtful(v)}
    slope = cxy / cxx
    want["correlation"] = mp(cxy) / mpmath.sqrt(mp(cxx * cyy))
    want["slope"] = slope
    want["r-squared"] = cxy * cxy / (cxx * cyy)
    # The residual Cyy - Cxy^2 / Cxx and the intercept my - slope mx are
    # differences of about twice double precision: where they cancel to
    # within 2^-40 of their terms, their digits are not the test's.
    if cyy - slope * cxy >= cyy * Fraction(2) ** -40:
        want["residual-SD"] = mpmath.sqrt(mp((cyy - slope * cxy) / (n - 2)))
    if abs(my - slope * mx) >= abs(slope * mx) * Fraction(2) ** -40:
        want["intercept"] = my - slope * mx
    return {k: v for k, v in want.items() if not doubtful(v)}


def column(rng, n, scale):
    base = rng.choice([0.0, 1.0, 1e3, -1e9])
    return [(base + rng.choice([rng.uniform(-1e3, 1e3),
                                float(rng.randint(-10**12, 10**12)),
                                rng.random() * 10.0 ** rng.randint(-15, 15)]))
            * 2.0 ** scale for _ in range(n)]


def main():
    numtally = sys.argv[1]
    trials = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    rng = random.Random(20261211)
    bad = 0
    for trial in range(trials):
        n = rng.randint(3, 10)
        a = rng.randint(-1000, 900)
        b = rng.choice([a, rng.randint(-1000, 900)])
        xs = column(rng, n, a)
        ys = column(rng, n, b)
        if rng.random() < 0.2:  # the first column times 2^(b - a)
            ys = [math.ldexp(x, b - a) for x in xs]
        if rng.random() < 0.1:  # one column without spread
            if rng.random() < 0.5:
                xs = [xs[0]] * n
            else:
                ys = [ys[0]] * n
        out = subprocess.run(
            [numtally, "covariance", "--col", "1", "--col", "2",
             "correlation", "--col", "1", "--col", "2",
             "regression", "--col", "1", "--col", "2",
             "paired-t", "--col", "1", "--col", "2"],
            input="".join("%r\t%r\n" % (x, y) for x, y in zip(xs, ys)),
            capture_output=True, text=True, check=True).stdout
        got = {}
        for line in out.splitlines():
            words = line.split()
            got.setdefault(words[2], words[3])
        for name, value in expected(xs, ys).items():
            if got.get(name) != text(value):
                bad += 1
                print("trial %d (x 2^%d, y 2^%d) %s: printed %s, exact %s "
                      "(pairs %r)" % (trial, a, b, name, got.get(name),
                                      text(value), list(zip(xs, ys))))
    print("%d trials, %d figures wrong" % (trials, bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
