#!/usr/bin/env python3
"""Shards against one pass: random inputs and requests, cut at random line
boundaries into 1 to 6 parts, each part's state written with --state-out
(the header line repeated to every part, as GNU parallel --header does),
then numtally --merge over the states, now and then with a record layout.
Standard output, standard error and the status must be those of one pass
over the whole input, byte for byte; every state file must read as
docs/state-format.md describes it (tests/reference/state_file.py).

usage: shards_check.py NUMTALLY [TRIALS] [SEED]
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "reference"))
import state_file  # noqa: E402  (the format as docs/state-format.md has it)
from trials import run_trials  # noqa: E402

# Every function over columns: word, parameter, two columns.
FUNCTIONS = [
    ("mean", None, False), ("median", None, False), ("quartile", None, False),
    ("quantile", "4", False), ("mode", None, False), ("pop-var", None, False),
    ("pop-SD", None, False), ("pop-z-scores", None, False),
    ("sample-var", None, False), ("sample-SD", None, False),
    ("sample-SE", None, False), ("sample-z-scores", None, False),
    ("sample-t-score", "1.5", False), ("range", None, False),
    ("iq-range", None, False), ("box-plot", None, False),
    ("chi-sq-fit", None, False), ("count", None, False), ("sum", None, False),
    ("min", None, False), ("max", None, False),
    ("percentile", "10,50,95", False), ("geo-mean", None, False),
    ("harm-mean", None, False), ("skewness", None, False),
    ("kurtosis", None, False), ("mad", None, False), ("summary", None, False),
    ("covariance", None, True), ("correlation", None, True),
    ("regression", None, True), ("welch-t", None, True),
    ("paired-t", None, True), ("t-test", "1.5", False),
    ("frequency", None, False), ("top", "2", False), ("distinct", None, False),
    ("histogram", None, False),
]
WIDE = {"pop-z-scores", "sample-z-scores", "box-plot", "histogram",
        "frequency"}


def field(rng, wild, skip):
    k = rng.randrange(100)
    if k < 30:
        return str(rng.randint(-50, 50))
    if k < 60:
        return "%d.%02d" % (rng.randint(-50, 50), rng.randrange(100))
    if k < 80:
        e = rng.randint(-300, 300) if wild else rng.randint(-20, 20)
        return "%de%d" % (rng.randint(-50, 50), e)
    if k < 90:
        return "%.17g" % (rng.uniform(-1, 1) * 1e16)
    if not wild or k < 94:
        return "NA" if skip and k % 2 == 0 else ""
    return ["inf", "-inf", "nan", "1e308", "-1e308", "4.9e-324"][k % 6]


def run(argv, stdin):
    p = subprocess.run(argv, input=stdin, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE)
    return p.returncode, p.stdout, p.stderr


def trial(binary, rng, t, tmp):
    wild = t % 3 == 0
    header = rng.randrange(3) == 0
    skip = rng.randrange(3) == 0
    csv = rng.randrange(4) == 0
    delim = "," if csv else "\t"
    cols = rng.randint(1, 3)
    by = rng.randrange(3) == 0
    keys = ["a", "b", "c", "d e" if csv else "d", "f", "g,h"][: rng.randint(1, 6)]
    nlines = rng.randint(0, 400 if t % 5 == 0 else 40)
    lines = []
    for _ in range(nlines):
        # Now and then a short line: a column without a field.
        n = cols if rng.randrange(12) else rng.randint(1, cols)
        fs = [field(rng, wild, skip) for _ in range(n)]
        if csv:
            fs = ['"%s"' % f if rng.randrange(5) == 0 else f for f in fs]
        if by:
            fs = fs + [""] * (cols - n)
            key = rng.choice(keys)
            fs.append('"%s"' % key if csv else key.replace(",", ";"))
        lines.append(delim.join(fs) + "\n")
    head = ""
    if header:
        head = delim.join("c%d" % (c + 1) for c in range(cols + by)) + "\n"
    argv = []
    if header:
        argv.append("--header")
    if skip:
        argv.append("--skip-missing")
    if csv:
        argv.append("--csv")
    if by:
        # One key column, or two (the values' first column as well).
        keys_by = [cols + 1] + ([1] if rng.randrange(3) == 0 else [])
        argv += ["--by", ",".join("c%d" % k if header else str(k)
                                  for k in keys_by)]
    if rng.randrange(6) == 0:
        argv += ["--quantile-type", str(rng.randint(1, 9))]
    layout = []
    if rng.randrange(3) == 0:
        layout += ["--format", rng.choice(["tsv", "csv", "json"])]
        if rng.randrange(2) == 0:
            layout.append("--long")
    if rng.randrange(5) == 0:
        layout += ["--digits", str(rng.randint(1, 17))]
    for _ in range(rng.randint(1, 5)):
        word, param, two = rng.choice(FUNCTIONS)
        if layout and "--format" in layout and word in WIDE:
            continue
        argv.append(word)
        if param is not None:
            argv.append(param)
        if word == "welch-t" and by and rng.randrange(2) == 0:
            # Two samples from one column, split by the key column: its
            # keys meet the parts in any order (more than two: refused).
            k = cols + 1
            argv += ["--col", str(rng.randint(1, cols)), "--split",
                     "c%d" % k if header else str(k)]
            continue
        for _ in range(2 if two else 1):
            c = rng.randint(1, cols)
            argv += ["--col", "c%d" % c if header and rng.randrange(2) else str(c)]
    if "--col" not in argv:
        argv += ["mean", "--col", "1"]

    whole = (head + "".join(lines)).encode()
    expect = run([binary] + layout + argv, whole)

    nparts = rng.randint(1, 6)
    cuts = sorted(rng.randint(0, nlines) for _ in range(nparts - 1))
    cuts = [0] + cuts + [nlines]
    states = []
    for p in range(nparts):
        body = "".join(lines[cuts[p]:cuts[p + 1]])
        # An empty part without a header line of its own, now and then.
        part = body if not body and rng.randrange(2) == 0 else head + body
        if not part and any(re.fullmatch(r"c\d+(,c\d+)*", a) for a in argv):
            part = head  # a column's name is looked up in the header line
        path = os.path.join(tmp, "part%d.state" % p)
        if rng.randrange(8) == 0:
            got = run([binary] + argv + ["--state-out", "-"], part.encode())
            with open(path, "wb") as f:
                f.write(got[1])
            got = (got[0], b"", got[2])
        else:
            got = run([binary, "--state-out", path] + argv, part.encode())
        if got != (0, b"", b""):
            return "part %d of %r: %r" % (p, argv, got)
        try:
            state_file.read(path)
        except ValueError as e:
            return "part %d of %r: docs/state-format.md's reader: %s" % (
                p, argv, e)
        states.append(path)
    stdin = None
    if rng.randrange(8) == 0:
        with open(states[0], "rb") as f:
            stdin = f.read()
        states[0] = "-"
    merged = run([binary] + layout + ["--merge"] + states, stdin)
    if merged != expect:
        return "%r%r cut at %r:\none pass: %r\nmerged:   %r" % (
            layout, argv, cuts, expect, merged)
    return None


if __name__ == "__main__":
    sys.exit(run_trials(trial))
