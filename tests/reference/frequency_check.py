#!/usr/bin/python3
"""Checks frequency, top, distinct and histogram of the built program against
Python's own counts over random columns: few distinct values (counted in
the program's hash table) and mostly distinct ones past 65536 (sorted
instead, or for distinct counted in buckets by hash), with -0, NaN and
ties.

    /usr/bin/python3 tests/reference/frequency_check.py build/numtally
"""
import math
import random
import subprocess
import sys
from collections import Counter
from fractions import Fraction as F

BIN = sys.argv[1]


def key(x):
    return (1, 0) if math.isnan(x) else (0, x)


def expected(xs, k, bins):
    c = Counter()
    neg0 = any(x == 0 and math.copysign(1, x) < 0 for x in xs)
    for x in xs:
        c["nan" if math.isnan(x) else x] += 1
    vals = sorted((v for v in c if v != "nan"))
    runs = [(v, c[v]) for v in vals] + ([(math.nan, c["nan"])] if "nan" in c else [])
    runs = [(-0.0 if v == 0 and neg0 else v, n) for v, n in runs]
    n = len(xs)
    lines = ["Col 1 frequency:", f"{'Val':>16} {'count':>16} {'percent':>16} {'cum-percent':>16}"]
    below = 0
    for v, m in runs:
        below += m
        lines.append(f"{v:16f} {m:16d} {float(F(100 * m, n)):16f} {float(F(100 * below, n)):16f}")
    lines.append(f"Col 1 distinct       {len(runs)}")
    lines += ["Col 1 top:", f"{'Val':>16} {'count':>16} {'percent':>16}"]
    for v, m in sorted(runs, key=lambda r: -r[1])[:k]:
        lines.append(f"{v:16f} {m:16d} {float(F(100 * m, n)):16f}")
    nums = sorted((x for x in xs if not math.isnan(x)), key=lambda x: (x, math.copysign(1, x)))
    lo, hi = nums[0], nums[-1]
    edges = [lo] + [float(((bins - i) * F(lo) + i * F(hi)) / bins) for i in range(1, bins)] + [hi]
    counts = [0] * bins
    for x in nums:
        b = 0
        while b + 1 < bins and x >= edges[b + 1]:
            b += 1
        counts[b] += 1
    lines.append(f"Col 1 bins           {bins}")
    for i in range(bins):
        lines.append((edges[i], edges[i + 1], counts[i]))
    return lines


def check(xs, k, bins, what):
    text = "".join(repr(x) + "\n" for x in xs)
    out = subprocess.run([BIN, "frequency", "--col", "1", "distinct", "--col", "1",
                          "top", str(k), "--col", "1", "histogram", str(bins), "--col", "1"],
                         input=text, capture_output=True, text=True, check=True).stdout
    got = out.splitlines()
    want = expected(xs, k, bins)
    hist = [w for w in want if isinstance(w, tuple)]
    head = [w for w in want if not isinstance(w, tuple)]
    assert got[:len(head)] == head, what
    rows = got[len(head) + 2:len(head) + 2 + bins]
    for (a, b, c), row in zip(hist, rows):
        f = row.split()
        assert f[:3] == [f"{a:f}", f"{b:f}", str(c)], (what, row, a, b, c)


def main():
    rng = random.Random(20261210)
    for trial in range(30):
        n = rng.randint(1, 400)
        pool = [rng.choice([0.0, -0.0, 1.5, -2.25, 7.0, 1e-3, 3.0, 12.5, math.nan])
                for _ in range(rng.randint(1, 9))]
        xs = [rng.choice(pool) if rng.random() < 0.7 else rng.randint(-5, 5) * 0.5
              for _ in range(n)]
        if all(math.isnan(x) for x in xs):
            xs.append(1.0)
        check(xs, rng.randint(1, 6), rng.randint(1, 12), f"trial {trial}")
    # Mostly distinct, past the hash table's bound: sorted instead.
    xs = [rng.randint(0, 10 ** 7) / 8 for _ in range(90000)] + [-0.0, 0.0, 5.0, 5.0]
    check(xs, 3, 17, "mostly distinct")
    # Mostly distinct with a third repeated, NaNs and both zeros: distinct
    # counts them in buckets by hash, the others sort.
    xs = [rng.randint(-100000, 100000) / 4 for _ in range(150000)]
    xs[rng.randrange(len(xs))] = math.nan
    xs += [-0.0, math.nan, 0.0]
    rng.shuffle(xs)
    check(xs, 4, 9, "mostly distinct, repeated")
    print("ok")


main()
