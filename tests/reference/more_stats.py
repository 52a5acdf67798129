#!/usr/bin/python3
"""Writes more_stats.tsv: for each data set below, the exact values of the
shape, positive-mean, median-absolute-deviation, two-column and two-sample
statistics, from Python's fractions and mpmath at 60 digits, each rounded
once to double.  scipy (Debian's python3-scipy) checks that the formulas
are the ones its functions compute (skew/kurtosis with bias=False, pearsonr,
linregress, ttest_ind with equal_var=False, ttest_rel).

    /usr/bin/python3 tests/reference/more_stats.py > tests/reference/more_stats.tsv

Lines, fields separated by TAB: KIND NAME XS YS EXPECTED, where XS and YS
are the values as comma-separated hexadecimal floats (YS "-" when unused)
and EXPECTED the results, blank-separated, hexadecimal floats or "nan":
  moments  g1 g2 G1 G2
  means    geometric harmonic
  mad      raw scaled
  pairs    cov-pop cov-sample r p slope intercept r2 residual-sd
           sum-x sum-x2 sum-y sum-y2 sum-xy (the record's plain sums)
  welch    mean1 mean2 sd1 sd2 diff t df p ci-low ci-high
  paired   mean1 mean2 sd1 sd2 diff sd-diff t df p ci-low ci-high
"""
from fractions import Fraction as F
import math
import mpmath as mp
from scipy import stats

mp.mp.dps = 60


def m(x):
    if isinstance(x, F):
        return mp.mpf(x.numerator) / x.denominator
    return mp.mpf(x)


def h(x):
    x = float(x)
    return "nan" if math.isnan(x) else x.hex()


def t_cdf(df, t):
    """P(T < t), T Student t with df degrees of freedom."""
    df, t = m(df), m(t)
    tail = mp.betainc(df / 2, mp.mpf(1) / 2, 0, df / (df + t * t),
                      regularized=True) / 2
    return tail if t < 0 else 1 - tail


def t_quantile(df, p, guess):
    return mp.findroot(lambda x: t_cdf(df, x) - p, mp.mpf(guess))


def shifted(xs):
    """The values less the first (exact here), so that scipy's double
    arithmetic, which only checks the definitions, keeps its digits."""
    return [x - xs[0] for x in xs]


def close(a, b):
    return abs(a - float(b)) < 1e-6 * (1 + abs(float(b)))


def moderate(xs):
    """True when scipy's double arithmetic can square these values without
    overflow or underflow: the check of the definitions is left out beyond."""
    nonzero = [abs(x) for x in xs if x != 0]
    return max(map(abs, xs)) < 1e70 and (not nonzero or min(nonzero) > 1e-70)


def moments(xs):
    n = len(xs)
    if n < 2:
        return [math.nan] * 4
    e = [F(x) for x in xs]
    mean = sum(e) / n
    s2, s3, s4 = (sum((x - mean) ** k for x in e) for k in (2, 3, 4))
    if s2 == 0:
        return [math.nan] * 4
    g1 = mp.sqrt(n) * m(s3) / m(s2) ** mp.mpf(1.5)
    g2 = m(n * s4 / (s2 * s2)) - 3
    G1 = g1 * mp.sqrt(n * (n - 1)) / (n - 2) if n >= 3 else math.nan
    G2 = ((n + 1) * g2 + 6) * (n - 1) / ((n - 2) * (n - 3)) if n >= 4 else math.nan
    near = shifted(xs)
    if n >= 4 and max(map(abs, near)) < 1e100:
        assert close(stats.skew(near, bias=False), G1)
        assert close(stats.kurtosis(near, bias=False), G2)
    return [g1, g2, G1, G2]


def means(xs):
    e = [F(x) for x in xs]
    geo = mp.exp(mp.fsum(mp.log(m(x)) for x in e) / len(e))
    harm = F(len(e)) / sum(1 / x for x in e)
    return [geo, m(harm)]


def mad(xs):
    e = sorted(F(x) for x in xs)
    n = len(e)
    med = e[n // 2] if n % 2 else (e[n // 2 - 1] + e[n // 2]) / 2
    d = sorted(abs(x - med) for x in e)
    raw = d[n // 2] if n % 2 else (d[n // 2 - 1] + d[n // 2]) / 2
    return [m(raw), m(raw * F(14826, 10000))]


def centred(xs, ys):
    n = len(xs)
    ex, ey = [F(x) for x in xs], [F(y) for y in ys]
    mx, my = sum(ex) / n, sum(ey) / n
    cxx = sum((x - mx) ** 2 for x in ex)
    cyy = sum((y - my) ** 2 for y in ey)
    cxy = sum((x - mx) * (y - my) for x, y in zip(ex, ey))
    return n, mx, my, cxx, cyy, cxy


def pairs(xs, ys):
    n, mx, my, cxx, cyy, cxy = centred(xs, ys)
    r = m(cxy) / mp.sqrt(m(cxx * cyy))
    if n >= 3 and abs(r) < 1:
        t = r * mp.sqrt((n - 2) / (1 - r * r))
        p = 2 * t_cdf(n - 2, -abs(t))
        if moderate(xs + ys):
            assert close(stats.pearsonr(shifted(xs), shifted(ys))[1], p)
    else:
        p = 0 if n >= 3 else math.nan
    slope = cxy / cxx
    res = cyy - slope * cxy
    sd = mp.sqrt(m(res / (n - 2))) if n > 2 else math.nan
    if moderate(xs + ys):
        assert close(stats.linregress(shifted(xs), shifted(ys)).slope, m(slope))
    ex, ey = [F(x) for x in xs], [F(y) for y in ys]
    totals = [sum(ex), sum(x * x for x in ex), sum(ey), sum(y * y for y in ey),
              sum(x * y for x, y in zip(ex, ey))]
    return [m(cxy / n), m(cxy / (n - 1)), r, p, m(slope),
            m(my - slope * mx), m(cxy * cxy / (cxx * cyy)), sd] + totals


def sample(xs):
    n = len(xs)
    e = [F(x) for x in xs]
    mean = sum(e) / n
    var = sum((x - mean) ** 2 for x in e) / (n - 1)
    return n, mean, var


def test_tail(diff, var_of_diff, df):
    se = mp.sqrt(m(var_of_diff))
    t = m(diff) / se
    p = 2 * t_cdf(df, -abs(t))
    q = t_quantile(df, mp.mpf(0.975), stats.t.ppf(0.975, float(df)))
    return [t, m(df), p, m(diff) - q * se, m(diff) + q * se]


def welch(xs, ys):
    (na, ma, va), (nb, mb, vb) = sample(xs), sample(ys)
    wa, wb = va / na, vb / nb
    df = (wa + wb) ** 2 / (wa * wa / (na - 1) + wb * wb / (nb - 1))
    out = [m(ma), m(mb), mp.sqrt(m(va)), mp.sqrt(m(vb)), m(ma - mb)]
    out += test_tail(ma - mb, wa + wb, df)
    if moderate(xs + ys):
        sp = stats.ttest_ind(shifted(xs), [y - xs[0] for y in ys], equal_var=False)
        assert close(sp.pvalue, out[7])
    return out


def paired(xs, ys):
    (n, mx, vx), (_, my, vy) = sample(xs), sample(ys)
    ds = [F(x) - F(y) for x, y in zip(xs, ys)]
    md = sum(ds) / n
    vd = sum((d - md) ** 2 for d in ds) / (n - 1)
    out = [m(mx), m(my), mp.sqrt(m(vx)), mp.sqrt(m(vy)), m(md), mp.sqrt(m(vd))]
    out += test_tail(md, vd / n, n - 1)
    if moderate(xs + ys):
        assert close(stats.ttest_rel(shifted(xs), [y - xs[0] for y in ys]).pvalue,
                     out[8])
    return out


def dec(*texts):
    return [float(t) for t in texts]


def data_sets():
    small = [3.0, 6.0, 1.0, 8.0, 2.0]
    yield "moments", "small", small, None
    yield "moments", "offset", [1e9 + v for v in (1, 2, 3, 4, 10)], None
    yield "moments", "squares", [0.1 * i * i for i in range(1, 31)], None
    yield "moments", "tera-milli", [1e12 + (i * 37 % 101) * 0.001
                                    for i in range(200)], None
    yield "moments", "decimals", dec("0.1", "0.2", "0.3", "0.4", "0.5"), None
    yield "moments", "two", [1.0, 3.0], None
    yield "moments", "three", [1.0, 2.0, 4.0], None
    yield "moments", "huge", [1e300, -1e300, 3e300, 2e299], None
    yield "means", "ratios", dec("1.1", "0.9", "1.25", "0.8", "1.05", "1.3",
                                 "0.95"), None
    yield "means", "wide", [1e-300, 1e300, 2.0, 3.5, 1e-307], None
    yield "means", "steps", [1 + i / 1000 for i in range(1, 301)], None
    yield "means", "one", [7.0], None
    yield "mad", "small", small, None
    yield "mad", "even", [1.0, 2.0, 3.0, 4.0, 100.0, 200.0], None
    yield "mad", "offset", [1e15 + v for v in (0.5, 1.5, 2.0, 7.25, 9.0, 100.0,
                                               3.0, 4.0)], None
    yield "mad", "decimals", dec("0.1", "0.2", "0.3", "0.7", "1.1", "1.3"), None
    xs = [float(i) for i in range(1, 11)]
    yield "pairs", "line", xs, [2 * x + 1 for x in xs]
    yield "pairs", "noisy", xs + [11.0, 12.0], [(i * 7919 % 101) / 10
                                                for i in range(1, 13)]
    yield "pairs", "offset", [1e9 + i for i in range(40)], \
        [1e6 + 0.5 * i + (i * 37 % 11) * 0.01 for i in range(40)]
    yield "pairs", "uncorrelated", [1.0, 2.0, 3.0], [1.0, 0.0, 1.0]
    yield "pairs", "falling", dec("0.5", "1.5", "2.25", "4", "8.5"), \
        dec("9.1", "7.3", "7.0", "4.4", "0.2")
    a = dec("10.12", "10.31", "9.87", "10.05", "10.44", "10.20", "9.95",
            "10.18", "10.27", "10.01")
    b = dec("9.81", "9.95", "9.70", "10.02", "9.66", "9.88", "9.79", "9.91")
    yield "welch", "bench", a, b
    yield "welch", "offset", [1e9 + v for v in a], [1e9 + v for v in b]
    yield "welch", "unequal", [1.0, 2.0, 4.0], [float(i % 7) for i in range(20)]
    yield "paired", "bench", a[:8], b
    yield "paired", "offset", [1e12 + i * 0.25 for i in range(12)], \
        [1e12 + (i * 5 % 12) * 0.25 + 0.125 for i in range(12)]


def main():
    kinds = {"moments": moments, "means": means, "mad": mad, "pairs": pairs,
             "welch": welch, "paired": paired}
    for kind, name, xs, ys in data_sets():
        got = kinds[kind](xs) if ys is None else kinds[kind](xs, ys)
        print("\t".join([kind, name, ",".join(x.hex() for x in xs),
                         "-" if ys is None else ",".join(y.hex() for y in ys),
                         " ".join(h(v) for v in got)]))


if __name__ == "__main__":
    main()
