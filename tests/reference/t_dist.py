#!/usr/bin/env python3
"""Writes t_dist.tsv: the Student t lower-tail probability and density for
a grid of sample sizes n (n - 1 degrees of freedom) and values t, computed
with mpmath's regularised incomplete beta function and log-gamma at 50
digits (and checked against a second run at 70 digits).

    python3 tests/reference/t_dist.py > tests/reference/t_dist.tsv

Lines: "cdf N T P" with T < 0 and P the probability of a value below T;
"pdf N X D" with D the density at X.  T and X are printed so that they read
back as the same doubles; P and D carry 21 significant digits.  The few
pairs for which mpmath's series does not converge (t = -1500 with more than
2^31 degrees of freedom, where P lies far below 1e-300) are left out.
"""
import sys

import mpmath as mp

SIZES = [2, 3, 4, 5, 6, 8, 10, 16, 30, 31, 100, 343, 344, 1000, 12345,
         100000, 1000000, 2147483648, 4294967294, 4294967295]
TS = [-5e-324, -0.0005, -0.1, -0.5, -1.0, -1.2345, -1.96, -2.5, -3.7, -6.5,
      -12.0, -38.0, -50.0, -1500.0, -1e6, -1e20, -1e154, -1e200, -1e300,
      -1.7976931348623157e308]
XS = [0.0, 0.5, 1.0, 2.5, 10.0, 1e3, 1e10]


def cdf(df, t):
    df = mp.mpf(df)
    t2 = mp.mpf(t) ** 2
    return mp.betainc(df / 2, mp.mpf(1) / 2, 0, df / (df + t2),
                      regularized=True) / 2


def pdf(df, x):
    df = mp.mpf(df)
    x = mp.mpf(x)
    log_c = (mp.loggamma((df + 1) / 2) - mp.loggamma(df / 2)
             - mp.log(df * mp.pi) / 2)
    return mp.exp(log_c - (df + 1) / 2 * mp.log1p(x * x / df))


def at(dps, f, *args):
    with mp.workdps(dps):
        return f(*args)


def checked(f, *args):
    a = at(50, f, *args)
    b = at(70, f, *args)
    if a != 0 and abs((a - b) / b) > mp.mpf(10) ** -30:
        sys.exit(f"no agreement at {f.__name__}{args}: {a} {b}")
    return a


def main():
    out = sys.stdout
    for n in SIZES:
        for t in TS:
            try:
                p = checked(cdf, n - 1, t)
            except mp.libmp.NoConvergence:
                continue
            out.write(f"cdf {n} {t!r} {mp.nstr(p, 21, min_fixed=1, max_fixed=0)}\n")
    for n in SIZES:
        for x in XS:
            d = checked(pdf, n - 1, x)
            out.write(f"pdf {n} {x!r} {mp.nstr(d, 21, min_fixed=1, max_fixed=0)}\n")


main()
