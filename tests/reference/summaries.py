#!/usr/bin/env python3
"""Writes tests/cli/reference-summaries.cases: mode, range, iq-range, box-plot
and chi-sq-fit over small and tricky inputs, every expected number worked out
here from the definitions in exact rational arithmetic (fractions) and, for
the chi-square tail, mpmath's regularised incomplete gamma at 50 digits.

    python3 tests/reference/summaries.py      (needs mpmath)

The generated file is committed; a normal test run does not need this script.
"""

import math
import os
from decimal import Decimal, ROUND_HALF_EVEN, getcontext
from fractions import Fraction as F

import mpmath

getcontext().prec = 1200
mpmath.mp.dps = 50
HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "cli", "reference-summaries.cases")
WIDTH = 60  # columns of the box-plot drawing


def fmt(x):
    """What C's "%f" prints for the exact value x (a Fraction or float)."""
    if isinstance(x, float):
        if math.isnan(x):
            return "-nan" if math.copysign(1, x) < 0 else "nan"
        if math.isinf(x):
            return "inf" if x > 0 else "-inf"
        if x == 0:
            return "-0.000000" if math.copysign(1, x) < 0 else "0.000000"
        x = F(x)
    d = (Decimal(x.numerator) / Decimal(x.denominator)).quantize(
        Decimal("0.000001"), rounding=ROUND_HALF_EVEN)
    s = f"{abs(d):f}"
    return ("-" if x < 0 else "") + s


def sort_values(values):
    def key(x):
        if math.isnan(x):
            return (1, math.copysign(1, x) < 0, 0, 0)
        return (0, 0, x, math.copysign(1, x))
    return sorted(values, key=key)


def quartile(v, q):
    """The (n + 1)p rule, positions clamped to the data, exact."""
    n = len(v)
    if n == 0 or has_nan(v):
        return float("nan")
    pos = F(q) * (n + 1)
    k = math.floor(pos)
    if k < 1:
        return v[0]
    if k >= n:
        return v[-1]
    a, b = v[k - 1], v[k]
    if not (math.isfinite(a) and math.isfinite(b)):
        f = float(pos - k)
        return (b - a) * f + a  # as the machine does it
    return F(a) + (pos - k) * (F(b) - F(a))


def has_nan(v):
    """A record fed a NaN prints nan for every order statistic."""
    return any(math.isnan(x) for x in v)


def ends(v):
    """The lowest and highest value as printed."""
    if not v or has_nan(v):
        return float("nan"), float("nan")
    return v[0], v[-1]


def finite(*xs):
    return all(not isinstance(x, float) or math.isfinite(x) for x in xs)


def combine(x, a, y, b):
    """a x + b y exactly, or as IEEE arithmetic gives it for non-finite."""
    if finite(x, y):
        return F(x) * F(a) + F(y) * F(b)
    return float(x) * a + float(y) * b


def quartile_lines(v, head):
    low, high = ends(v)
    lines = [head + "low            " + fmt(low)]
    for q in ("0.25", "0.50", "0.75"):
        lines.append(head + f"quantile({q}) " + fmt(quartile(v, F(q))))
    lines.append(head + "high           " + fmt(high))
    return lines


def range_lines(values, head):
    low, high = ends(sort_values(values))
    return [head + "low            " + fmt(low),
            head + "high           " + fmt(high),
            head + "range          " + fmt(combine(high, 1, low, -1))]


def mode_lines(values, head):
    v = sort_values(values)
    best, count = float("nan"), 0
    i = 0
    while i < len(v) and not has_nan(v):
        j = i
        bits = math.copysign(1, v[i]), repr(v[i])
        while j < len(v) and (math.copysign(1, v[j]), repr(v[j])) == bits:
            j += 1
        if j - i > count:
            best, count = v[i], j - i
        i = j
    return [head + "mode           " + fmt(best),
            head + f"mode-count     {count}"]


def iq_lines(values, head):
    v = sort_values(values)
    return [head + "iq-range       " +
            fmt(combine(quartile(v, F(3, 4)), 1, quartile(v, F(1, 4)), -1))]


def box_lines(values, head):
    v = sort_values(values)
    out = quartile_lines(v, head)
    q1, med, q3 = (quartile(v, F(q, 4)) for q in (1, 2, 3))
    iqr = combine(q3, 1, q1, -1)
    lf = combine(q1, F(5, 2), q3, F(-3, 2))
    uf = combine(q3, F(5, 2), q1, F(-3, 2))
    out += [head + "iq-range       " + fmt(iqr),
            head + "lower-fence    " + fmt(lf),
            head + "upper-fence    " + fmt(uf)]
    nan = float("nan")
    lw = uw = nan
    outliers = 0
    if finite(lf, uf):
        inside = [x for x in v if math.isfinite(x) and lf <= F(x) <= uf]
        if inside:
            lw, uw = inside[0], inside[-1]
        outliers = sum(1 for x in v if not math.isnan(x) and
                       (not math.isfinite(x) or F(x) < lf or F(x) > uf))
    out += [head + "lower-whisker  " + fmt(lw),
            head + "upper-whisker  " + fmt(uw),
            head + f"outliers       {outliers}"]
    if not v:
        out.append(head + "plot           (none: no values)")
    elif not all(math.isfinite(x) for x in v):
        out.append(head + "plot           (none: not every value is finite)")
    elif math.isnan(lw):
        out.append(head + "plot           (none: a quartile or whisker is not finite)")
    else:
        out.append(head + "plot           " + drawing(v, q1, med, q3, lw, uw))
    return out


def drawing(v, q1, med, q3, lw, uw):
    low, span = F(v[0]), F(v[-1]) - F(v[0])

    def col(x):
        if span == 0:
            return 0
        c = (F(x) - low) / span * (WIDTH - 1) + F(1, 2)
        assert c.denominator != 1 or span == 0, "a column on a rounding tie"
        return min(math.floor(c), WIDTH - 1)

    line = [" "] * WIDTH
    for a, b, ch in ((lw, uw, "-"), (q1, q3, "=")):
        for i in range(col(a), col(b) + 1):
            line[i] = ch
    line[col(q1)] = "["
    line[col(q3)] = "]"
    line[col(lw)] = "+"
    line[col(uw)] = "+"
    line[col(med)] = "|"
    marks = {}
    for x in v:
        if x < lw or x > uw:
            marks[col(x)] = marks.get(col(x), 0) + 1
    for c, k in marks.items():
        line[c] = "o" if k == 1 else str(k) if k <= 9 else "*"
    return "".join(line).rstrip()


def chi_lines(values, head):
    k = len(values)
    total = sum(F(x) for x in values)
    nan = "nan"
    if k < 2 or total == 0:
        return [head + "chi-sq         " + nan, head + "df             " + nan,
                head + "P(>chi-sq)     " + nan]
    mean = total / k
    stat = sum((F(x) - mean) ** 2 for x in values) / mean
    df = k - 1
    p = mpmath.gammainc(mpmath.mpf(df) / 2, mpmath.mpf(stat.numerator) /
                        stat.denominator / 2, mpmath.inf, regularized=True)
    p = F(mpmath.nstr(p, 40, strip_zeros=False).replace(" ", "")) \
        if p != 0 else F(0)
    return [head + "chi-sq         " + fmt(stat),
            head + f"df             {df}",
            head + "P(>chi-sq)     " + fmt(p)]


# (title, words, values of row 1); each function runs over row 1.
CASES = [
    ("ties: the smallest of the most frequent values",
     ["mode", "range", "iq-range", "box-plot"], "5 1 5 2 2 9"),
    ("one value", ["mode", "range", "iq-range", "box-plot", "chi-sq-fit"], "7"),
    ("no values", ["mode", "range", "iq-range", "box-plot", "chi-sq-fit"], ""),
    ("NaN sorts after every number",
     ["mode", "range", "iq-range", "box-plot"], "3 nan 1 2 nan"),
    ("infinities are outliers of finite fences; no drawing",
     ["range", "iq-range", "box-plot"], "inf 1 2 3 4 5 6 7 -inf"),
    ("outliers on both sides, three in one column",
     ["box-plot"], "-40 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 100 100.1 100.2"),
    ("a value exactly on a fence is inside",
     ["box-plot"], "-5 1 2 3 4 5 10"),
    ("bit-identical values: -0 and 0 differ",
     ["mode", "range"], "0 -0 -0 0 -0"),
    ("a difference that double arithmetic rounds the wrong way",
     ["range"], "10000000000.0078125 -1e-300"),
    ("a difference beyond the largest double",
     ["range"], "1e308 -1.7976931348623157e308"),
    ("quartiles between values whose gap overflows a double",
     ["box-plot"],
     "-1.5729814930045264e+308 -1.348269851146737e+308 1.1235582092889474e+308 1.5729814930045264e+308"),
    ("decimal fractions", ["iq-range", "box-plot"], "0.1 0.2 0.3 0.4 0.5 0.7"),
    ("equal counts fit perfectly", ["chi-sq-fit"], "5 5 5 5"),
    ("counts far from equal", ["chi-sq-fit"], "10 20 30 40"),
    ("a small tail probability", ["chi-sq-fit"], "0 0 0 0 0 0 0 0 0 30"),
    ("a zero total", ["chi-sq-fit"], "0 0 0"),
    ("large counts, many categories", ["chi-sq-fit"],
     " ".join(str(1000 + (i * 37) % 101) for i in range(200))),
    ("fractional counts", ["chi-sq-fit"], "0.5 1.5 2.25"),
]

BLOCKS = {"mode": mode_lines, "range": range_lines, "iq-range": iq_lines,
          "box-plot": box_lines, "chi-sq-fit": chi_lines}


def main():
    out = ["# Generated by tests/reference/summaries.py from exact arithmetic: do",
           "# not edit by hand.", ""]
    for title, words, row in CASES:
        values = [float(t) for t in row.split()]
        args = []
        expected = []
        for w in words:
            args += [w, "--row", "1"]
            expected += BLOCKS[w](values, "Row 1 ")
        out += [f"=== {title}", "args: " + " ".join(args), "--- stdin", row,
                "--- stdout"] + expected + [""]
    with open(OUT, "w") as f:
        f.write("\n".join(out))


if __name__ == "__main__":
    main()
