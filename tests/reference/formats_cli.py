#!/usr/bin/python3
"""Writes tests/cli/formats.cases: the record layouts (--format tsv, csv,
json; --long) and --digits, one case per rule of escaping and of numbers.
Every expected record is written here by Python's own csv and json modules
and by the rules of the TSV layout (tab, line feed, carriage return and
backslash as \\t, \\n, \\r, \\\\); numbers are the shortest text that reads
back as the same double, as the exact value (fractions) rounds.

    /usr/bin/python3 tests/reference/formats_cli.py
"""
import csv
import io
import json
import os
from decimal import Decimal
from fractions import Fraction as F

import mpmath as mp

mp.mp.dps = 60

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "cli", "formats.cases")


def shortest(x):
    """The shortest text that reads back as the double x, in fixed or
    exponent form, whichever is shorter (fixed on a tie)."""
    if x != x:
        return "nan"
    if x in (float("inf"), float("-inf")):
        return "inf" if x > 0 else "-inf"
    sign, digits, exp = Decimal(repr(x)).normalize().as_tuple()
    sign = "-" if sign else ""
    d = "".join(map(str, digits))
    point = len(d) + exp  # the decimal point after this many digits
    if point <= 0:
        fixed = "0." + "0" * -point + d
    elif point >= len(d):
        fixed = d + "0" * (point - len(d))
    else:
        fixed = d[:point] + "." + d[point:]
    if d == "0":
        fixed = "0"
    e = point - 1
    sci = d[0] + ("." + d[1:] if len(d) > 1 else "")
    sci += "e" + ("-" if e < 0 else "+") + "%02d" % abs(e)
    return sign + (fixed if len(fixed) <= len(sci) else sci)


def tsv(field):
    return (field.replace("\\", "\\\\").replace("\t", "\\t")
            .replace("\n", "\\n").replace("\r", "\\r"))


def csv_line(fields):
    # With CR LF as the terminator the writer quotes a field holding
    # either, as RFC 4180 has it; the records end in LF alone.
    s = io.StringIO()
    csv.writer(s, lineterminator="\r\n").writerow(fields)
    return s.getvalue()[:-2] + "\n"


def json_line(pairs):
    """A JSON object; text by the json module, a float as shortest() has
    it (an integral one without ".0", as C++ writes it)."""
    def one(v):
        if isinstance(v, float):
            text = shortest(v)
            return json.dumps(text) if text.lstrip("-") in ("nan", "inf") \
                else text
        return json.dumps(v, ensure_ascii=False)
    return "{" + ",".join(json.dumps(k, ensure_ascii=False) + ":" + one(v)
                          for k, v in pairs) + "}\n"


def esc(text):
    return (text.replace("\\", "\\\\").replace("\t", "\\t")
            .replace("\n", "\\n").replace("\r", "\\r"))


def csv_input(rows):
    s = io.StringIO()
    csv.writer(s, lineterminator="\n").writerows(rows)
    return s.getvalue()


def mean(values):
    return float(sum(F(float(v)) for v in values) / len(values))


CASES = []


def case(title, args, stdin, stdout, status=0, stderr="", extra=""):
    CASES.append((title, args + "\n" + extra, stdin, stdout, status, stderr))


# One grouped mean per key: a key per rule of escaping, in every layout.
KEYS = [("a tab", "x\ty"), ("a line feed", "l1\nl2"),
        ("a carriage return", "c\rr"), ("a backslash", "b\\s"),
        ("a double quote", 'say "hi"'), ("a comma", "x,y")]
for what, key in KEYS:
    rows = [[key, "1"], [key, "2"], ["k", "0.1"], ["k", "0.2"]]
    stdin = csv_input(rows)
    groups = [(key, mean(["1", "2"])), ("k", mean(["0.1", "0.2"]))]
    args = "--csv mean --col 2 --by 1"
    case(f"a key holding {what}: the labelled lines", args, stdin,
         "".join(f"{tsv(k)}\tCol 2 mean           {'%f' % m}\n"
                 for k, m in groups))
    case(f"a key holding {what}: tsv", "--format tsv " + args, stdin,
         "col 1\tcol 2 mean\n" +
         "".join(f"{tsv(k)}\t{shortest(m)}\n" for k, m in groups))
    case(f"a key holding {what}: csv", "--format csv " + args, stdin,
         csv_line(["col 1", "col 2 mean"]) +
         "".join(csv_line([k, shortest(m)]) for k, m in groups))
    case(f"a key holding {what}: json", "--format json " + args, stdin,
         "".join(json_line([("col 1", k), ("col 2 mean", m)])
                 for k, m in groups))

# Column names from the header line, with the delimiter and a quote in
# them; the key column named by its header too.
name = 'p,r"ice'
stdin = csv_input([["shop\tname", name], ["s", "3"], ["s", "4"]])
args = "--csv --header mean --col 2 --by 1"
case("header names holding a tab, a comma and a quote: tsv",
     "--format tsv " + args, stdin,
     f"shop\\tname\t{tsv(name)} mean\ns\t3.5\n")
case("header names holding a tab, a comma and a quote: csv",
     "--format csv " + args, stdin,
     csv_line(["shop\tname", name + " mean"]) + csv_line(["s", "3.5"]))
case("header names holding a tab, a comma and a quote: json",
     "--format json " + args, stdin,
     json_line([("shop\tname", "s"), (name + " mean", 3.5)]))

# Numbers: every digit of the double; NaN and the infinities.
values = ["1.2e-7", "1.5e-7"]
m = mean(values)
case("tiny values keep their digits: mean and count in every format",
     "--format csv mean --col 1 count --col 1", "1.2e-7\n1.5e-7\n",
     csv_line(["col 1 mean", "col 1 count"]) + csv_line([shortest(m), "2"]))
case("NaN and the infinities: bare in tsv", "--format tsv max --col 1 "
     "min --col 2 mean --col 3", "nan inf -inf\n",
     "col 1 max\tcol 2 min\tcol 3 mean\nnan\tinf\t-inf\n")
case("NaN and the infinities: strings in json", "--format json max --col 1 "
     "min --col 2 mean --col 3", "nan inf -inf\n",
     json_line([("col 1 max", "nan"), ("col 2 min", "inf"),
                ("col 3 mean", "-inf")]))

# --digits: significant digits, exponent form where fixed would show fewer.
case("--digits 3 in the labelled lines", "--digits 3 mean --col 1 "
     "count --col 1", "1.2e-7\n1.5e-7\n",
     f"Col 1 mean           {'%.3g' % m}\nCol 1 count          2\n")
case("--digits 3 in a record layout", "--format tsv --digits 3 mean --col 1",
     "1234567\n1234568\n", "col 1 mean\n%s\n" % ("%.3g" % mean(["1234567", "1234568"])))

# Long records: target, function as given, statistic, value.
stdin = "1 a\n3 a\n10 b\n"
case("--long: one record per result, the function with its parameter",
     "--format csv --long percentile 50 --col 1 mean --col 1 --by 2", stdin,
     csv_line(["col 2", "target", "function", "statistic", "value"]) +
     csv_line(["a", "col 1", "percentile 50", "percentile(50)", "2"]) +
     csv_line(["a", "col 1", "mean", "mean", "2"]) +
     csv_line(["b", "col 1", "percentile 50", "percentile(50)", "10"]) +
     csv_line(["b", "col 1", "mean", "mean", "10"]))
# The listing: the SD the exact root (mpmath), each z-score the double
# quotient, its CDF the exact normal probability rounded once.
xs = [1.0, 2.0, 3.0]
mu = F(sum(F(x) for x in xs)) / len(xs)
var = sum((F(x) - mu) ** 2 for x in xs) / len(xs)
sd = float(mp.sqrt(mp.mpf(var.numerator) / var.denominator))
listing = [("sum-squares", float(var * len(xs))), ("pop-var", float(var)),
           ("pop-SD", sd), ("pop-mean", float(mu))]
for k, x in enumerate(xs, 1):
    z = (x - float(mu)) / sd
    listing += [(f"value({k})", x), (f"z-score({k})", z),
                (f"cdf({k})", float(mp.ncdf(z)))]
case("--long json: the listing's values by position",
     "--format json --long pop-z-scores --col 1", "1\n2\n3\n",
     "".join(json_line([("target", "col 1"), ("function", "pop-z-scores"),
                        ("statistic", st), ("value", v)])
             for st, v in listing))
case("--long: a small sample's warning goes to standard error, headed by "
     "the key", "--format tsv --long sample-z-scores --col 1 --by 2",
     "1 a\n3 a\n", "",
     stderr="a\tnumtally: col 1: Warning: Sample size is < 30.\n"
            "a\tnumtally: col 1: You may want to use a t-distribution "
            "instad.\n", extra="stdout-to: /dev/null\n")
# Tables by position: each row's results numbered from 1 in its table,
# counts as integers, percents the doubles nearest the exact fractions.
rows_a = [("value(1)", 1.0), ("count(1)", 2), ("percent(1)", float(F(200, 3))),
          ("cum-percent(1)", float(F(200, 3))), ("value(2)", 3.0),
          ("count(2)", 1), ("percent(2)", float(F(100, 3))),
          ("cum-percent(2)", 100.0)]
rows_b = [("value(1)", 10.0), ("count(1)", 1), ("percent(1)", 100.0),
          ("cum-percent(1)", 100.0)]
top_a = [("value(1)", 1.0), ("count(1)", 2), ("percent(1)", float(F(200, 3)))]
top_b = [("value(1)", 10.0), ("count(1)", 1), ("percent(1)", 100.0)]
# Two bins: a's edges 1, 2, 3; b's one value in the last of two empty-width
# bins.
hist_a = [("bins", 2), ("from(1)", 1.0), ("to(1)", 2.0), ("count(1)", 2),
          ("from(2)", 2.0), ("to(2)", 3.0), ("count(2)", 1)]
hist_b = [("bins", 2), ("from(1)", 10.0), ("to(1)", 10.0), ("count(1)", 0),
          ("from(2)", 10.0), ("to(2)", 10.0), ("count(2)", 1)]


def long_csv(key, function, results):
    return "".join(csv_line([key, "col 1", function, st,
                             shortest(v) if isinstance(v, float) else str(v)])
                   for st, v in results)


case("--long csv: frequency, top and histogram tables row by row, per group",
     "--format csv --long frequency --col 1 top 1 --col 1 histogram 2 "
     "--col 1 --by 2", "1 a\n3 a\n1 a\n10 b\n",
     csv_line(["col 2", "target", "function", "statistic", "value"]) +
     long_csv("a", "frequency", rows_a) + long_csv("a", "top 1", top_a) +
     long_csv("a", "histogram 2", hist_a) +
     long_csv("b", "frequency", rows_b) + long_csv("b", "top 1", top_b) +
     long_csv("b", "histogram 2", hist_b))


def t_test_record(xs, mu):
    """t.test(xs, mu = mu) to 8 significant digits, as --digits 8 writes
    them (counts whole)."""
    n = len(xs)
    mean = sum(F(x) for x in xs) / n
    var = sum((F(x) - mean) ** 2 for x in xs) / (n - 1)
    se = mp.sqrt(mp.mpf(var.numerator) / var.denominator / n)
    t = (mp.mpf(mean.numerator) / mean.denominator - mu) / se
    df = n - 1
    tail = mp.betainc(mp.mpf(df) / 2, mp.mpf(1) / 2, 0, df / (df + t * t),
                      regularized=True)
    q = mp.findroot(lambda x: mp.betainc(mp.mpf(df) / 2, mp.mpf(1) / 2, 0,
                                         df / (df + x * x),
                                         regularized=True) / 2 - 0.025, 2)
    m = mp.mpf(mean.numerator) / mean.denominator
    g = lambda x: "%.8g" % float(x)
    return [("n", str(n)), ("mean", g(m)),
            ("SD", g(mp.sqrt(mp.mpf(var.numerator) / var.denominator))),
            ("SE", g(se)), ("t", g(t)), ("df", str(df)), ("p-value", g(tail)),
            ("95%-CI low", g(m - q * se)), ("95%-CI high", g(m + q * se))]


ta = [5.1, 4.9, 6.2, 5.8, 6.0]
tb = [7.5, 6.8, 7.9]
case("--digits 8 json: t-test and distinct, one record per group",
     "--format json --digits 8 t-test 5.5 --col 1 distinct --col 1 --by 2",
     "".join(f"{x} a\n" for x in ta) + "".join(f"{x} b\n" for x in tb),
     "".join("{" + ",".join([json.dumps("col 2") + ":" + json.dumps(k)] +
                            [json.dumps("col 1 " + st) + ":" + v
                             for st, v in t_test_record(xs, 5.5)] +
                            [json.dumps("col 1 distinct") + ":" + str(len(xs))])
             + "}\n" for k, xs in (("a", ta), ("b", tb))))
case("a grouped run without groups: the header line alone",
     "--format tsv mean --col 1 sum --col 1 --by 2", "",
     "col 2\tcol 1 mean\tcol 1 sum\n")

# Refusals, before any input is read.
case("a listing in a wide layout is refused and points to --long",
     "--format csv sample-z-scores --col 1", "1\n2\n", "", 64,
     "sample-z-scores: its listing does not fit one row; add --long\n")
case("the box plot's drawing in a wide layout is refused",
     "--format json box-plot --col 1 --by 2", "1 a\n", "", 64,
     "box-plot: its drawing does not fit one row; add --long\n")
case("a frequency table or histogram in a wide layout is refused",
     "--format tsv histogram --col 1", "1\n", "", 64,
     "histogram: its listing does not fit one row; add --long\n")
case("--long without a record format is refused",
     "--long mean --col 1", "1\n", "", 64,
     "--long: needs --format tsv, csv or json\n")
case("--digits beyond 17 is refused", "--digits 18 mean --col 1", "1\n", "",
     64, "Invalid --digits: 18 (1 to 17)\n")
case("an unknown format is refused", "--format xml mean --col 1", "1\n", "",
     64, "Invalid --format: xml (report, tsv, csv or json)\n")


def section(name, text):
    if text == "":
        return ""
    return f"--- {name} esc nonl\n{esc(text)}\n"


def main():
    with open(OUT, "w", encoding="utf-8") as f:
        f.write("# Generated by tests/reference/formats_cli.py (records "
                "written by Python's csv\n# and json modules): do not edit "
                "by hand.\n")
        for title, args, stdin, stdout, status, stderr in CASES:
            f.write(f"\n=== {title}\nargs: {args}")
            f.write(section("stdin", stdin) or "--- stdin\n")
            f.write(section("stdout", stdout))
            f.write(section("stderr", stderr))
            if status:
                f.write(f"--- status {status}\n")


if __name__ == "__main__":
    main()
