#!/usr/bin/python3
"""Writes tests/cli/reference-more.cases: count, sum, min, max, percentile,
geo-mean, harm-mean, skewness, kurtosis, mad, summary and the two-column and
two-sample functions on the command line, every expected line printed from
the exact value (fractions; mpmath at 60 digits where a root, logarithm or
probability enters) rounded to six decimals as "%f" prints it.  The
definitions are those of more_stats.py beside it.

    /usr/bin/python3 tests/reference/more_stats_cli.py
"""
import math
import os
from decimal import Decimal, ROUND_HALF_EVEN, getcontext
from fractions import Fraction as F

import mpmath as mp

import more_stats as ms

getcontext().prec = 400
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "cli", "reference-more.cases")


def fmt(x):
    """"%f" of the exact value x (Fraction, mpf, int or float)."""
    if isinstance(x, float) and (math.isnan(x) or math.isinf(x)):
        return "nan" if math.isnan(x) else ("inf" if x > 0 else "-inf")
    if isinstance(x, mp.mpf):
        if mp.isnan(x):
            return "nan"
    if not isinstance(x, float) and abs(x) >= 2 ** 53:
        # The program prints the double nearest the exact value: from 2^53
        # on, its whole digits; beyond the doubles, an infinity.
        try:
            return fmt(float(x))
        except OverflowError:
            return "inf" if x > 0 else "-inf"
    if isinstance(x, mp.mpf):
        d = Decimal(mp.nstr(x, 80, min_fixed=-mp.inf, max_fixed=mp.inf))
    else:
        x = F(x)
        d = Decimal(x.numerator) / Decimal(x.denominator)
    q = d.quantize(Decimal("0.000001"), rounding=ROUND_HALF_EVEN)
    return ("-" if d < 0 else "") + f"{abs(q):f}"


def line(head, name, width, value):
    return f"{head} {name:<{width - 1}} {value}"


def order_point(v, p):
    """The (n + 1)p rule on sorted v, positions outside reading the ends;
    the position computed in doubles, as the program does."""
    n = len(v)
    pos = p * float(n + 1)
    k = int(pos)
    if k < 1:
        return F(v[0])
    if k >= n:
        return F(v[-1])
    f = pos - k
    # The interpolation itself as the program computes it, in doubles.
    return F((v[k] - v[k - 1]) * f + v[k - 1])


def counting(head, xs):
    exact = sum(F(x) for x in xs)
    return [line(head, "count", 15, len(xs)), line(head, "sum", 15, fmt(exact)),
            line(head, "min", 15, fmt(min(xs))), line(head, "max", 15, fmt(max(xs)))]


def percentiles(head, xs, items):
    v = sorted(xs)
    return [line(head, f"percentile({t})", 15, fmt(order_point(v, float(t) / 100)))
            for t in items.split(",")]


def positive(head, xs):
    geo, harm = ms.means(xs)
    return [line(head, "geo-mean", 15, fmt(geo)),
            line(head, "harm-mean", 15, fmt(harm))]


def shape(head, xs):
    g1, g2, G1, G2 = ms.moments(xs)
    return [line(head, "pop-skewness", 18, fmt(g1)),
            line(head, "sample-skewness", 18, fmt(G1)),
            line(head, "pop-ex-kurtosis", 18, fmt(g2)),
            line(head, "sample-ex-kurtosis", 18, fmt(G2))]


def mad(head, xs):
    raw, scaled = ms.mad(xs)
    return [line(head, "mad", 15, fmt(raw)), line(head, "mad*1.4826", 15, fmt(scaled))]


def summary(head, xs):
    v = sorted(xs)
    n, mean, var = ms.sample(xs)
    return [line(head, "count", 15, n), line(head, "mean", 15, fmt(mean)),
            line(head, "sample-SD", 15, fmt(mp.sqrt(ms.m(var)))),
            line(head, "min", 15, fmt(v[0])),
            line(head, "first-quartile", 15, fmt(order_point(v, 0.25))),
            line(head, "median", 15, fmt(order_point(v, 0.5))),
            line(head, "third-quartile", 15, fmt(order_point(v, 0.75))),
            line(head, "max", 15, fmt(v[-1]))]


def two_columns(head, xs, ys):
    cp, cs, r, p, slope, icpt, r2, sd = ms.pairs(xs, ys)[:8]
    return [line(head, "pop-covariance", 18, fmt(cp)),
            line(head, "sample-covariance", 18, fmt(cs)),
            line(head, "correlation", 15, fmt(r)), line(head, "pairs", 15, len(xs)),
            line(head, "p-value", 15, fmt(p)), line(head, "slope", 15, fmt(slope)),
            line(head, "intercept", 15, fmt(icpt)),
            line(head, "r-squared", 15, fmt(r2)),
            line(head, "residual-SD", 15, fmt(sd))]


def welch(head, xs, ys):
    m1, m2, s1, s2, diff, t, df, p, lo, hi = ms.welch(xs, ys)
    return [line(head, "first-n", 18, len(xs)), line(head, "second-n", 18, len(ys)),
            line(head, "first-mean", 18, fmt(m1)), line(head, "second-mean", 18, fmt(m2)),
            line(head, "first-SD", 18, fmt(s1)), line(head, "second-SD", 18, fmt(s2)),
            line(head, "difference", 18, fmt(diff)), line(head, "t", 18, fmt(t)),
            line(head, "df", 18, fmt(df)), line(head, "p-value", 18, fmt(p)),
            line(head, "95%-CI", 18, f"({fmt(lo)}, {fmt(hi)})")]


def t_score(head, xs, mu):
    """sample-t-score: the sample's block, then (mean - mu) / (SD / sqrt(n))."""
    n = len(xs)
    mean = sum(F(x) for x in xs) / n
    ss = sum((F(x) - mean) ** 2 for x in xs)
    var = ss / (n - 1)
    sd = mp.sqrt(ms.m(var))
    se = sd / mp.sqrt(n)
    return [line(head, "sum-squares", 18, fmt(ss)), line(head, "sample-var", 18, fmt(var)),
            line(head, "sample-SD", 18, fmt(sd)), line(head, "sample-SE", 18, fmt(se)),
            line(head, "sample-mean", 18, fmt(mean)),
            line(head, "mean 95%-CI-2SE", 18,
                 f"({fmt(ms.m(mean) - 2 * se)}, {fmt(ms.m(mean) + 2 * se)})"),
            line(head, "t-score", 18, fmt((ms.m(mean) - ms.m(F(mu))) / se))]


def paired(head, xs, ys):
    m1, m2, s1, s2, diff, sdd, t, df, p, lo, hi = ms.paired(xs, ys)
    return [line(head, "pairs", 18, len(xs)),
            line(head, "first-mean", 18, fmt(m1)), line(head, "second-mean", 18, fmt(m2)),
            line(head, "difference", 18, fmt(diff)),
            line(head, "difference-SD", 18, fmt(sdd)), line(head, "t", 18, fmt(t)),
            line(head, "df", 18, len(xs) - 1), line(head, "p-value", 18, fmt(p)),
            line(head, "95%-CI", 18, f"({fmt(lo)}, {fmt(hi)})")]


def case(title, args, stdin, stdout, stderr=None, skip=None, note=None):
    out = [f"=== {title}"] + (["# " + note] if note else []) + ["args: " + args]
    out += (["skip: " + skip] if skip else []) + ["--- stdin"] + stdin + ["--- stdout"] + stdout
    if stderr:
        out += ["--- stderr"] + stderr
    return out + [""]


def main():
    cancel = [1e16, 1.0, -1e16, 0.5, -0.0]
    ratios = ms.dec("1.1", "0.9", "1.25", "0.8", "1.05", "1.3", "0.95")
    offset = [1e9 + v for v in (1, 2, 3, 4, 10, 2.5)]
    odd = ms.dec("0.1", "0.2", "0.3", "0.7", "1.1", "1.3", "9.5")
    xs = [1e9 + i for i in range(12)]
    ys = [1e6 + 0.5 * i + (i * 37 % 11) * 0.01 for i in range(12)]
    a = ms.dec("10.12", "10.31", "9.87", "10.05", "10.44", "10.20", "9.95",
               "10.18", "10.27", "10.01")
    b = ms.dec("9.81", "9.95", "9.70", "10.02", "9.66", "9.88", "9.79", "9.91")
    twenty = [float(i) for i in range(1, 21)]
    out = ["# Generated by tests/reference/more_stats_cli.py from exact arithmetic:",
           "# do not edit by hand.", ""]
    out += case("count, the exact sum through cancellation, min and max of -0",
                "count --col 1 sum --col 1 min --col 1 max --col 1",
                [repr(x) for x in cancel], counting("Col 1", cancel)[:2] +
                ["Col 1 min            -10000000000000000.000000",
                 "Col 1 max            10000000000000000.000000"])
    # Sums whose low parts span more than one double: adding them up in a
    # pair of doubles rounds, and the sum or the mean printed the wrong
    # neighbour.
    far = [2.0 ** 53, 1.0, 2.0 ** -60]
    out += case("the exact sum of values far apart in magnitude",
                "count --col 1 sum --col 1", [repr(x) for x in far],
                counting("Col 1", far)[:2])
    wide = [1.6940658945086007e-21, 1453695883370225.0, 6807504128584410.0,
            2708666920855994.0]
    # The mean printed is the double nearest the exact one (a tie between
    # two doubles, broken by the smallest value).
    out += case("the exact mean of values far apart in magnitude",
                "sum --col 1 mean --col 1", [repr(x) for x in wide],
                [counting("Col 1", wide)[1],
                 line("Col 1", "mean", 15,
                      fmt(float(sum(F(x) for x in wide) / len(wide))))])
    out += case("a NaN makes min and max nan",
                "count --col 1 min --col 1 max --col 1", ["1", "nan", "-3"],
                ["Col 1 count          3", "Col 1 min            nan",
                 "Col 1 max            nan"])
    out += case("percentiles labelled as written; 50 is the median, 25 the first quartile",
                "percentile 25,50,95,99.9,0.5 --col 1 median --col 1",
                [f"{x:g}" for x in twenty],
                percentiles("Col 1", twenty, "25,50,95,99.9,0.5") +
                ["Col 1 low            1.000000",
                 "Col 1 quantile(0.50) " + fmt(order_point(twenty, 0.5)),
                 "Col 1 high           20.000000"],
                ["numtally: percentile 0.5 is the 0.5th percentile; "
                 "the 50th is percentile 50"])
    out += case("geometric and harmonic mean of ratios",
                "geo-mean --row 1 harm-mean --row 1",
                [" ".join(repr(x) for x in ratios)], positive("Row 1", ratios))
    tiny = [1e-306] * 200
    out += case("harmonic mean of values whose reciprocals' sum passes the "
                "largest double", "geo-mean --row 1 harm-mean --row 1",
                [" ".join(repr(x) for x in tiny)], positive("Row 1", tiny))
    out += case("a value at or below 0: nan, and the run says why once",
                "geo-mean --row 1 harm-mean --row 1", ["2 0 8"],
                ["Row 1 geo-mean       nan", "Row 1 harm-mean      nan"],
                ["numtally: geo-mean needs values above 0; Row 1 has 0, "
                 "so its line is nan"])
    out += case("skewness and excess kurtosis far from zero",
                "skewness --col 1 kurtosis --col 1", [repr(x) for x in offset],
                shape("Col 1", offset)[:2] + shape("Col 1", offset)[2:])
    out += case("three values: the sample excess kurtosis needs four",
                "kurtosis --row 1", ["1 2 4"], shape("Row 1", [1.0, 2.0, 4.0])[2:])
    out += case("two values: the skewness is exactly 0 and prints without a sign",
                "skewness --row 1", ["0.1 0.2"], shape("Row 1", [0.1, 0.2])[:2])
    out += case("median absolute deviation of decimals", "mad --row 1",
                [" ".join(repr(x) for x in odd)], mad("Row 1", odd))
    out += case("median absolute deviation where twice the median or the "
                "scaled value passes the largest double",
                "mad --row 1 mad --row 2", ["1e308", "2e304 -2e304 0"],
                mad("Row 1", [1e308]) + mad("Row 2", [2e304, -2e304, 0.0]))
    # (1 - f) low + f high in the extended reals; a position on a value
    # (60% of 5 is 3) takes it.
    out += case("infinite values: their median, and a percentile landing on one",
                "median --row 1 percentile 60 --row 2", ["inf inf", "1 2 inf inf"],
                ["Row 1 low            inf", "Row 1 quantile(0.50) inf",
                 "Row 1 high           inf", "Row 2 percentile(60) inf"])
    out += case("summary block", "summary --col 1", [repr(x) for x in odd],
                summary("Col 1", odd))
    out += case("covariance, correlation, regression far from zero; a line "
                "without the second column gives no pair",
                "covariance --col 1 --col 2 correlation --col 1 --col 2 "
                "regression --col 1 --col 2",
                [f"{x!r}\t{y!r}" for x, y in zip(xs, ys)] + ["5"],
                two_columns("Cols 1,2", xs, ys))
    out += case("welch-t: two benchmark samples of different lengths",
                "welch-t --col 1 --col 2",
                [f"{x!r}\t{y!r}" for x, y in zip(a, b)] + [repr(x) for x in a[len(b):]],
                welch("Cols 1,2", a, b))
    big = [x * 1e80 for x in (1.0, 2.0, 4.0, 3.5, 7.25)]
    out += case("a column with itself near 1e80: Cxx Cyy passes the largest double",
                "covariance --col 1 --col 1 correlation --col 1 --col 1 "
                "regression --col 1 --col 1", [repr(x) for x in big],
                two_columns("Cols 1,1", big, big))
    wa, wb = [x * 1e150 for x in a], [x * 1e150 for x in b]
    out += case("welch-t near 1e150: the df squares variances beyond the doubles",
                "welch-t --col 1 --col 2",
                [f"{x!r}\t{y!r}" for x, y in zip(wa, wb)] + [repr(x) for x in wa[len(wb):]],
                welch("Cols 1,2", wa, wb), skip="valgrind",
                note="Every digit of the interval shows at this scale, and its t "
                "quantile is computed in long double, which valgrind runs as double.")
    for scale in (1e-160, 1e-200):
        sa, sb = [x * scale for x in a], [x * scale for x in b]
        out += case(f"welch-t near {scale:g}: the squared deviations' sums below "
                    "the doubles, kept scaled", "welch-t --col 1 --col 2",
                    [f"{x!r}\t{y!r}" for x, y in zip(sa, sb)] +
                    [repr(x) for x in sa[len(sb):]],
                    welch("Cols 1,2", sa, sb))
    tiny = [x * 2.0 ** -600 for x in a]
    mu = 10.0 * 2.0 ** -600
    out += case("sample-t-score near 2^-600: squared deviations below the "
                "doubles, kept scaled", f"sample-t-score {mu!r} --col 1", [repr(x) for x in tiny],
                t_score("Col 1", tiny, mu))
    out += case("paired-t", "paired-t --col 2 --col 1",
                [f"{y!r}\t{x!r}" for x, y in zip(a, b)], paired("Cols 2,1", a[:8], b))
    # Pairs whose squared deviations' and products' sums lie beyond the
    # doubles (near 1e150) or below them (near 1e-200): kept scaled, they
    # print the digits of the exact values.
    for scale in (1e150, 1e-200):
        sa, sb = [x * scale for x in a[:8]], [x * scale for x in b]
        rows = [f"{x!r}\t{y!r}" for x, y in zip(sa, sb)]
        out += case(f"covariance, correlation, regression and paired-t near "
                    f"{scale:g}", "covariance --col 1 --col 2 correlation "
                    "--col 1 --col 2 regression --col 1 --col 2 paired-t "
                    "--col 1 --col 2 regression --col 1 --col 1", rows,
                    two_columns("Cols 1,2", sa, sb) + paired("Cols 1,2", sa, sb) +
                    two_columns("Cols 1,1", sa, sa)[5:],
                    skip="valgrind" if scale > 1 else None,
                    note="Every digit of the interval shows at this scale, and "
                    "its t quantile is computed in long double, which valgrind "
                    "runs as double." if scale > 1 else None)
    # Results beyond the largest double print as infinities, as the variance
    # does: the difference of means near +-1.7e308 and the bounds of its
    # interval, a covariance, an intercept; t, r and the slope stay finite.
    hx = [1.7e308, 1.6e308, 1.65e308]
    hy = [-1.7e308, -1.5e308, 1.6e308]
    rows = [f"{x!r}\t{y!r}" for x, y in zip(hx, hy)]
    out += case("results beyond the largest double are infinite",
                "paired-t --col 1 --col 2 covariance --col 1 --col 2 "
                "regression --col 1 --col 2", rows,
                paired("Cols 1,2", hx, hy) + two_columns("Cols 1,2", hx, hy)[:2] +
                two_columns("Cols 1,2", hx, hy)[5:], skip="valgrind",
                note="The t quantile of the interval is computed in long "
                "double, which valgrind runs as double.")
    with open(OUT, "w") as f:
        f.write("\n".join(out))


if __name__ == "__main__":
    main()
