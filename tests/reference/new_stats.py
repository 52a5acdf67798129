#!/usr/bin/python3
"""Writes tests/cli/reference-new-stats.cases: the one-sample t-test and the
frequency family on the command line, every expected line printed from the
exact value (fractions; mpmath at 60 digits where a root or a probability
enters) rounded to six decimals as "%f" prints it.

  t-test MU     as R's t.test(x, mu = MU): n, mean, SD, SE, t, df, the
                two-sided p-value and the 95% interval of the mean from the
                Student t quantile (scipy's ttest_1samp checks p)
  frequency     each distinct value in value order (NaN last, one value),
                its count, percent and cumulative percent
  top K         the K most frequent values, ties in value order
  distinct      the number of distinct values
  histogram [B] B bins (Sturges: ceil(log2(n) + 1)) of equal width from the
                lowest value to the highest; the edges are the doubles
                nearest ((B - i) low + i high) / B, a value on an edge falls
                in the bin above it, the highest value in the last bin

    cd tests/reference && /usr/bin/python3 new_stats.py
"""
import math
import os
from fractions import Fraction as F

import mpmath as mp
from scipy import stats

import more_stats as ms
from more_stats_cli import case, fmt, line

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "cli", "reference-new-stats.cases")
S = 18
W = 15
BAR = 40


def dfmt(x):
    """fmt of the double nearest x where a double's step passes the sixth
    decimal (from 2^33): the program prints a double."""
    return fmt(float(x)) if abs(x) >= 2 ** 33 else fmt(x)


def t_test(head, xs, mu_text):
    mu = F(float(mu_text))
    n, mean, var = ms.sample(xs)
    se2 = var / n
    t, df, p, lo, hi = ms.test_tail(mean - mu, se2, n - 1)
    sp = stats.ttest_1samp([x - xs[0] for x in xs], float(mu - F(xs[0])))
    assert ms.close(sp.pvalue, p), (sp.pvalue, p)
    return [line(head, "n", S, n), line(head, "mean", S, dfmt(mean)),
            line(head, "SD", S, fmt(mp.sqrt(ms.m(var)))),
            line(head, "SE", S, fmt(mp.sqrt(ms.m(se2)))),
            line(head, "t", S, fmt(t)), line(head, "df", S, n - 1),
            line(head, "p-value", S, fmt(p)),
            line(head, "95%-CI", S,
                 f"({dfmt(lo + ms.m(mu))}, {dfmt(hi + ms.m(mu))})")]


def runs(xs):
    """(value, count) in value order, NaN last; -0 and 0 one value, shown
    as the first in order."""
    nums = sorted((x for x in xs if not math.isnan(x)),
                  key=lambda x: (x, math.copysign(1, x)))
    out = []
    for x in nums:
        if out and out[-1][0] == x:
            out[-1][1] += 1
        else:
            out.append([x, 1])
    nans = sum(1 for x in xs if math.isnan(x))
    if nans:
        out.append([math.nan, nans])
    return out


def cell(x):
    """"%16f" of the exact value x; a value read keeps the sign of -0."""
    if isinstance(x, float) and x == 0 and math.copysign(1, x) < 0:
        return f"{'-0.000000':>16}"
    return f"{fmt(x):>16}"


def frequency(head, xs):
    n = len(xs)
    out = [f"{head} frequency:",
           f"{'Val':>16} {'count':>16} {'percent':>16} {'cum-percent':>16}"]
    below = 0
    for x, c in runs(xs):
        below += c
        out.append(f"{cell(x)} {c:>16} {cell(F(100 * c, n))} "
                   f"{cell(F(100 * below, n))}")
    return out


def top(head, xs, k):
    n = len(xs)
    best = sorted(runs(xs), key=lambda r: -r[1])[:k]  # stable: value order
    return [f"{head} top:", f"{'Val':>16} {'count':>16} {'percent':>16}"] + \
        [f"{cell(x)} {c:>16} {cell(F(100 * c, n))}" for x, c in best]


def distinct(head, xs):
    return [line(head, "distinct", W, len(runs(xs)))]


def histogram(head, xs, bins=None):
    v = sorted(x for x in xs if not math.isnan(x))
    m = len(v)
    if bins is None:
        bins = math.ceil(math.log2(F(m)) + 1) if m > 1 else 1
        # log2 of a power of two is exact: no rounding up past it
        assert bins == (m - 1).bit_length() + 1 or m == 1
    lo, hi = F(v[0]), F(v[-1])
    edges = [v[0]] + [float(((bins - i) * lo + i * hi) / bins)
                      for i in range(1, bins)] + [v[-1]]
    counts = [0] * bins
    for x in v:
        b = max(i for i in range(bins) if i == 0 or x >= edges[i])
        counts[b] += 1
    most = max(counts)
    out = [line(head, "bins", W, bins), f"{head} histogram:",
           f"{'from':>16} {'to':>16} {'count':>16} bar"]
    for i, c in enumerate(counts):
        n = (c * BAR + most // 2) // most if most else 0
        n = max(n, 1) if c else 0
        out.append(f"{cell(edges[i])} {cell(edges[i + 1])} {c:>16}" +
                   (" " + "#" * n if n else ""))
    if m != len(xs):
        out.append(line(head, "nan-values", W, len(xs) - m))
    return out


def main():
    # R's sleep data: the extra hours of sleep under two drugs, and the
    # differences of the pairs.
    g1 = ms.dec("0.7", "-1.6", "-0.2", "-1.2", "-0.1", "3.4", "3.7", "0.8",
                "0.0", "2.0")
    g2 = ms.dec("1.9", "0.8", "1.1", "0.1", "-0.1", "4.4", "5.5", "1.6",
                "4.6", "3.4")
    diffs = [float(F(repr(b)) - F(repr(a))) for a, b in zip(g1, g2)]
    # Far from zero: a mean near 1e9 tested against a MU beside it.
    offset = [1e9 + v for v in (0.25, 1.5, -0.75, 2.0, 0.5, 1.25)]
    # mtcars' cylinders and carburettors.
    cyl = [6, 6, 4, 6, 8, 6, 8, 4, 4, 6, 6, 8, 8, 8, 8, 8, 8, 4, 4, 4, 4, 8,
           8, 8, 8, 4, 4, 4, 8, 6, 8, 4]
    carb = [4, 4, 1, 1, 2, 1, 4, 2, 2, 4, 4, 3, 3, 3, 4, 4, 4, 1, 2, 1, 1, 2,
            2, 4, 2, 1, 2, 2, 4, 6, 8, 2]
    # mtcars' horsepower.
    hp = [110, 110, 93, 110, 175, 105, 245, 62, 95, 123, 180, 180, 180, 205,
          215, 230, 66, 52, 65, 97, 150, 150, 245, 175, 66, 91, 113, 264, 175,
          335, 109]
    odd = ms.dec("0.1", "0.2", "0.3", "0.7", "1.1", "1.3", "9.5", "0.3", "-0.0",
                 "0.0", "nan", "0.2", "0.3")

    out = ["# Generated by tests/reference/new_stats.py from exact arithmetic:",
           "# do not edit by hand.", ""]
    out += case("t-test: R's sleep data, the differences against 0 and the "
                "first group against 0.5",
                "t-test 0 --col 3 t-test 0.5 --col 1",
                [f"{a!r}\t{b!r}\t{d!r}" for a, b, d in zip(g1, g2, diffs)],
                t_test("Col 3", diffs, "0") + t_test("Col 1", g1, "0.5"))
    out += case("t-test of a mean near 1e9 against a MU beside it",
                "t-test 1000000000.5 --col 1", [repr(x) for x in offset],
                t_test("Col 1", offset, "1000000000.5"))
    # The mean rounded to a double would be MU itself: t needs the exact
    # mean less MU.
    near = [1e15 + k * 0.125 for k in (1, 3, 2, 5, 4, 7)]
    out += case("t-test of a mean whose nearest double is MU",
                "t-test 1000000000000000.5 --col 1", [repr(x) for x in near],
                t_test("Col 1", near, "1000000000000000.5"))
    out += case("t-test: one value has no SD, t, df, p nor interval",
                "t-test 1 --row 1", ["5"],
                ["Row 1 n                 1", "Row 1 mean              5.000000",
                 "Row 1 SD                nan", "Row 1 SE                nan",
                 "Row 1 t                 nan", "Row 1 df                nan",
                 "Row 1 p-value           nan", "Row 1 95%-CI            (nan, nan)"])
    out += case("frequency, top and distinct of mtcars' carburettors",
                "frequency --col 2 top 3 --col 2 distinct --col 2 distinct --col 1",
                [f"{a}\t{b}" for a, b in zip(cyl, carb)],
                frequency("Col 2", carb) + top("Col 2", carb, 3) +
                distinct("Col 2", carb) + distinct("Col 1", cyl))
    out += case("frequency of decimals: -0 and 0 one value, NaN last; top "
                "ties in value order, K beyond the values",
                "frequency --row 1 top 20 --row 1 distinct --row 1",
                [" ".join(repr(x) for x in odd)],
                frequency("Row 1", odd) + top("Row 1", odd, 20) +
                distinct("Row 1", odd))
    out += case("histogram of mtcars' horsepower by Sturges' rule, and in 4 "
                "bins", "histogram --col 1 histogram 4 --col 1",
                [str(x) for x in hp],
                histogram("Col 1", hp) + histogram("Col 1", hp, 4))
    twenty = [float(i) for i in range(1, 21)]
    out += case("histogram: values on the edges fall in the bin above, the "
                "highest in the last; edges that are no double",
                "histogram 19 --col 1 histogram 3 --col 1", [f"{x:g}" for x in twenty],
                histogram("Col 1", twenty, 19) + histogram("Col 1", twenty, 3))
    out += case("histogram: NaN in no bin, counted after; one value one bin",
                "histogram --row 1 histogram --row 2", [" ".join(repr(x) for x in odd), "7"],
                histogram("Row 1", odd) + histogram("Row 2", [7.0]))
    out += case("histogram: an infinite value leaves the inner edges nan, "
                "every value in the last bin", "histogram 2 --col 1",
                ["1", "inf", "-inf"],
                ["Col 1 bins           2", "Col 1 histogram:",
                 f"{'from':>16} {'to':>16} {'count':>16} bar",
                 f"{'-inf':>16} {'nan':>16} {0:>16}",
                 f"{'nan':>16} {'inf':>16} {3:>16} " + "#" * BAR])
    keys = ["a" if c == 4 else "b" for c in cyl]
    ga = [x for k, x in zip(keys, carb) if k == "a"]
    gb = [x for k, x in zip(keys, carb) if k == "b"]
    # Groups report in the order their keys first come: b, then a.
    out += case("--by: each group its own table, histogram and t-test",
                "--by 1 frequency --col 2 histogram --col 2 t-test 2 --col 2",
                [f"{k}\t{x}" for k, x in zip(keys, carb)],
                ["b\t" + s for s in frequency("Col 2", gb) +
                 histogram("Col 2", gb) + t_test("Col 2", gb, "2")] +
                ["a\t" + s for s in frequency("Col 2", ga) +
                 histogram("Col 2", ga) + t_test("Col 2", ga, "2")])
    with open(OUT, "w") as f:
        f.write("\n".join(out))


if __name__ == "__main__":
    main()
