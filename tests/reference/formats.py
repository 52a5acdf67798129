#!/usr/bin/python3
"""Round trip of the record layouts, as a property over random runs: every
number that --format json and --format csv print, read back with Python's
own json and csv modules, equals (rounded to six decimals as "%f" rounds)
what the labelled layout prints, and equals to the last bit what
--digits 17 prints; the two record formats hold the same numbers, and every
record holds its group's key fields as the input had them (tabs, commas,
quotes and backslashes included).

    tests/reference/formats.py PATH-TO-NUMTALLY [RUNS [SEED]]

Exits 1, naming the run, at the first disagreement.
"""
import csv
import io
import json
import math
import random
import subprocess
import sys

# Functions whose results fit one row: (words, columns they take).
FUNCTIONS = [
    (["mean"], 1), (["median"], 1), (["quantile", "4"], 1), (["pop-var"], 1),
    (["pop-SD"], 1), (["sample-SD"], 1), (["sample-SE"], 1),
    (["sample-t-score", "1.5"], 1), (["mode"], 1), (["range"], 1),
    (["iq-range"], 1), (["count"], 1), (["sum"], 1), (["min"], 1),
    (["max"], 1), (["percentile", "10,90"], 1), (["geo-mean"], 1),
    (["harm-mean"], 1), (["skewness"], 1), (["kurtosis"], 1), (["mad"], 1),
    (["summary"], 1), (["covariance"], 2), (["correlation"], 2),
    (["regression"], 2), (["welch-t"], 2), (["paired-t"], 2),
]

KEY_CHARS = ["a", "b", "\t", ",", '"', "\\", " ", "é"]


def value(rng, scale):
    kind = rng.randrange(6)
    if kind == 0:
        return str(rng.randrange(-5, 50))
    if kind == 1:
        return repr(rng.uniform(-1, 1) * scale)
    if kind == 2:
        return "%.3f" % (rng.gauss(10, 3) * scale)
    return repr(abs(rng.gauss(2, 1)) * scale)


def make_run(rng):
    scale = rng.choice([1e-7, 1.0, 1e6, 1.5e-10])
    grouped = rng.random() < 0.6
    nkeys = rng.choice([1, 2]) if grouped else 0
    keys = ["".join(rng.choice(KEY_CHARS) for _ in range(rng.randrange(1, 5)))
            for _ in range(rng.randrange(1, 5))]
    lines = []
    for _ in range(rng.randrange(1, 40)):
        fields = [rng.choice(keys) for _ in range(nkeys)]
        fields += [value(rng, scale) for _ in range(3)]
        lines.append(";".join(fields))
    args = ["--delims", ";"]
    for _ in range(rng.randrange(1, 5)):
        words, ncols = rng.choice(FUNCTIONS)
        args += words
        for _ in range(ncols):
            args += ["--col", str(nkeys + rng.randrange(1, 4))]
    if grouped:
        args += ["--by", ",".join(str(k + 1) for k in range(nkeys))]
    return args, "\n".join(lines) + "\n", nkeys


def run(program, args, stdin):
    done = subprocess.run([program] + args, input=stdin.encode(),
                          capture_output=True)
    return done.returncode, done.stdout.decode()


def tsv_unescape(text):
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"t": "\t", "n": "\n", "r": "\r", "\\": "\\"}[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def labelled_records(text, nkeys):
    """[(key fields, [value texts])] in order, from the labelled lines."""
    records = []
    for line in text.splitlines():
        fields = line.split("\t")
        keys = tuple(tsv_unescape(k) for k in fields[:nkeys])
        rest = "\t".join(fields[nkeys:])
        if rest.endswith(")"):
            low, high = rest[rest.rindex("(") + 1:-1].split(", ")
            values = [low, high]
        else:
            values = [rest.split()[-1]]
        if not records or records[-1][0] != keys:
            records.append((keys, []))
        records[-1][1].extend(values)
    return records


def same_float(a, b):
    return (math.isnan(a) and math.isnan(b)) or a == b


def check_number(got, six, seventeen):
    """got: what a record holds (a JSON number or string, a CSV text)."""
    special = {"nan", "-nan", "inf", "-inf"}
    if six in special:
        want = six.lstrip("-") if "nan" in six else six
        if got != want:
            return f"{got!r} where the labelled layout has {six}"
        return None
    if isinstance(got, str) and got in special:
        return f"{got!r} where the labelled layout has {six}"
    x = float(got)
    if "." not in six:  # a count
        if str(got) != six:
            return f"count {got!r} where the labelled layout has {six}"
        return None
    if "%f" % x != six:
        return f"{got!r} rounds to {'%f' % x}, the labelled layout has {six}"
    if not same_float(x, float(seventeen)):
        return f"{got!r} is not {seventeen} (--digits 17)"
    return None


def check(program, args, stdin, nkeys):
    status, labelled = run(program, args, stdin)
    if status != 0:
        return None  # a refused run: nothing to compare
    _, digits17 = run(program, ["--digits", "17"] + args, stdin)
    _, js = run(program, ["--format", "json"] + args, stdin)
    _, cs = run(program, ["--format", "csv"] + args, stdin)
    six = labelled_records(labelled, nkeys)
    seventeen = labelled_records(digits17, nkeys)
    objects = [json.loads(line) for line in js.splitlines()]
    rows = list(csv.reader(io.StringIO(cs, newline="")))
    header, rows = rows[0], rows[1:]
    if not (len(six) == len(seventeen) == len(objects) == len(rows)):
        return (f"{len(six)} labelled groups, {len(seventeen)} with 17 "
                f"digits, {len(objects)} JSON, {len(rows)} CSV records")
    if len(set(header)) != len(header) or list(objects[0]) != header:
        return f"column names {header} and JSON keys {list(objects[0])}"
    for (keys, values), (_, values17), obj, row in zip(six, seventeen,
                                                       objects, rows):
        record = list(obj.values())
        if tuple(record[:nkeys]) != keys or tuple(row[:nkeys]) != keys:
            return f"keys {record[:nkeys]} / {row[:nkeys]} for {keys}"
        if not len(values) == len(record) - nkeys == len(row) - nkeys:
            return f"{len(values)} labelled values, {len(record) - nkeys} in JSON"
        for got_json, got_csv, v6, v17 in zip(record[nkeys:], row[nkeys:],
                                              values, values17):
            if not isinstance(got_json, str) and repr(got_json) and \
                    not same_float(float(got_json), float(got_csv)):
                return f"JSON {got_json!r} and CSV {got_csv!r}"
            for got in (got_json, got_csv):
                problem = check_number(got, v6, v17)
                if problem:
                    return problem
    return None


def main():
    program = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 20261210
    rng = random.Random(seed)
    for n in range(runs):
        args, stdin, nkeys = make_run(rng)
        problem = check(program, args, stdin, nkeys)
        if problem:
            print(f"run {n}: numtally {' '.join(repr(a) for a in args)}\n"
                  f"input {stdin!r}\n{problem}")
            return 1
    print(f"{runs} runs agree")
    return 0


if __name__ == "__main__":
    sys.exit(main())
