#!/usr/bin/env python3
"""Kept values past --memory against the values in memory: random inputs
and requests of the value-keeping functions (with other functions beside
them, now and then grouped with --by), run once as ever and once with a
memory limit so small that every array spills into many runs, now and then
on threads cut into small chunks, or as parts through --state-out and
--merge with the limit on both sides.  Standard output, standard error and
the status must be the same, byte for byte, and no temporary file may be
left behind.

usage: memory_check.py NUMTALLY [TRIALS] [SEED]
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from shards_check import FUNCTIONS, field  # noqa: E402
from trials import run_trials  # noqa: E402

KEEPING = [
    ("median", None), ("quartile", None), ("quantile", "4"),
    ("quantile", "40"), ("mode", None), ("iq-range", None),
    ("box-plot", None), ("percentile", "10,50,95"), ("geo-mean", None),
    ("harm-mean", None), ("skewness", None), ("kurtosis", None),
    ("mad", None), ("summary", None), ("frequency", None), ("top", "3"),
    ("distinct", None), ("histogram", None),
]


def run(argv, stdin, env=None):
    p = subprocess.run(argv, input=stdin, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, env=env)
    return p.returncode, p.stdout, p.stderr


def spilled(argv, stdin, tmpdir, env=None):
    """argv run with its temporary files in tmpdir, which must be as
    empty afterwards as before."""
    env = dict(env or os.environ, TMPDIR=tmpdir)
    got = run(argv, stdin, env)
    left = os.listdir(tmpdir)
    if left:
        raise AssertionError("%r left %r in TMPDIR" % (argv, left))
    return got


def trial(binary, rng, t, tmp):
    wild = t % 4 == 0
    cols = rng.randint(1, 3)
    by = rng.randrange(3) == 0
    keys = ["a", "b", "c", "d"][: rng.randint(1, 4)]
    # Few distinct values now and then: long runs of ties across runs.
    narrow = rng.randrange(3) == 0
    nlines = rng.randint(0, 3000 if t % 4 == 1 else 600)
    lines = []
    for _ in range(nlines):
        fs = [str(rng.randint(-3, 3)) if narrow else field(rng, wild, False)
              for _ in range(cols)]
        if by:
            fs.append(rng.choice(keys))
        lines.append("\t".join(fs) + "\n")
    argv = ["--by", str(cols + 1)] if by else []
    for _ in range(rng.randint(1, 4)):
        if rng.randrange(4) == 0:
            word, param, two = rng.choice(FUNCTIONS)
        else:
            (word, param), two = rng.choice(KEEPING), False
        argv.append(word)
        if param is not None:
            argv.append(param)
        for _ in range(2 if two else 1):
            argv += ["--col", str(rng.randint(1, cols))]
    data = "".join(lines).encode()
    expect = run([binary] + argv, data)

    memory = ["--memory", rng.choice(["1K", "2K", "3K", "8K", "1030"])]
    spill = os.path.join(tmp, "spill")
    os.makedirs(spill, exist_ok=True)
    how = rng.randrange(4)
    if how == 0 and nlines > 0:
        env = dict(os.environ, NUMTALLY_CHUNK_BYTES=str(rng.randint(64, 4096)))
        path = os.path.join(tmp, "input")
        with open(path, "wb") as f:
            f.write(data)
        threads = ["--threads", str(rng.randint(2, 6))]
        got = spilled([binary] + memory + threads + argv + [path], None,
                      spill, env)
    elif how == 1:
        cut = rng.randint(0, nlines)
        states = []
        for p, body in enumerate([lines[:cut], lines[cut:]]):
            path = os.path.join(tmp, "part%d.state" % p)
            limit = memory if rng.randrange(2) else []
            part = spilled([binary, "--state-out", path] + limit + argv,
                           "".join(body).encode(), spill)
            if part != (0, b"", b""):
                return "part %d of %r: %r" % (p, argv, part)
            states.append(path)
        got = spilled([binary] + memory + ["--merge"] + states, None, spill)
    else:
        got = spilled([binary] + memory + argv, data, spill)
    if got != expect:
        return "%r %r (way %d):\nin memory: %r\nspilled:   %r" % (
            memory, argv, how, expect, got)
    return None


if __name__ == "__main__":
    sys.exit(run_trials(trial))
