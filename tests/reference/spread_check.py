#!/usr/bin/env python3
"""The spread of the sample and population blocks against exact arithmetic.

Each of sample-var, sample-SD, sample-SE, pop-var and pop-SD must print the
exact value (Python's fractions; the square roots from mpmath at 400 bits)
rounded once, over random small inputs of mixed magnitudes.  Usage:
spread_check.py NUMTALLY [TRIALS]
"""
import random
import subprocess
import sys
from fractions import Fraction

import mpmath

mpmath.mp.prec = 400


def mp(q):
    return mpmath.mpf(q.numerator) / q.denominator


def main():
    numtally = sys.argv[1]
    trials = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    rng = random.Random(20261210)
    bad = 0
    for trial in range(trials):
        n = rng.randint(2, 12)
        xs = [rng.choice([rng.uniform(-1e6, 1e6),
                          float(rng.randint(-10**15, 10**15)),
                          rng.random() * 10.0 ** rng.randint(-20, 20)])
              for _ in range(n)]
        out = subprocess.run(
            [numtally, "sample-SE", "--col", "1", "pop-SD", "--col", "1"],
            input="".join(repr(x) + "\n" for x in xs),
            capture_output=True, text=True, check=True).stdout
        got = {}
        for line in out.splitlines():
            words = line.split()
            if len(words) == 4:
                got[words[2]] = words[3]
        fx = [Fraction(x) for x in xs]
        mean = sum(fx) / n
        ss = sum((x - mean) ** 2 for x in fx)
        want = {
            "sample-var": float(ss / (n - 1)),
            "sample-SD": float(mpmath.sqrt(mp(ss / (n - 1)))),
            "sample-SE": float(mpmath.sqrt(mp(ss / (n * (n - 1))))),
            "pop-var": float(ss / n),
            "pop-SD": float(mpmath.sqrt(mp(ss / n))),
        }
        for name, value in want.items():
            if got.get(name) != "%f" % value:
                bad += 1
                print("trial %d %s: printed %s, exact %f (values %r)"
                      % (trial, name, got.get(name), value, xs))
    print("%d trials, %d figures wrong" % (trials, bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
