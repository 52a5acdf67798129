#!/usr/bin/env python3
"""numtally over many files on a Dask cluster: one report, as one pass.

Each file goes to a worker, which runs numtally over it with --state-out -
and hands back the part's state; the states, in the order the files were
named, go to numtally --merge, whose report, notices and status are this
script's.  The output is what `numtally WORDS FILE...` prints.

usage: dask_shards.py [--scheduler ADDRESS] [--workers N] [--numtally PATH]
                      WORDS... -- FILE...

WORDS are numtally's functions and options, as for one run (--format,
--long and --digits are given to the merge).  Without --scheduler a
LocalCluster of N workers (default 2) runs the parts; with it, the
cluster at ADDRESS (e.g. tcp://10.0.0.5:8786), whose workers must reach
the files under the same names and have numtally on their PATH (or at
--numtally PATH).
"""
import os
import subprocess
import sys
import tempfile

from dask.distributed import Client, LocalCluster

MERGE_WORDS = {"--format": 1, "--digits": 1, "--long": 0}


def part_state(numtally, words, path):
    """One file's state: (status, state bytes, standard error)."""
    run = subprocess.run([numtally] + words + ["--state-out", "-", path],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return run.returncode, run.stdout, run.stderr


def main(argv):
    scheduler, workers, numtally = None, 2, "numtally"
    while argv and argv[0] in ("--scheduler", "--workers", "--numtally"):
        if len(argv) < 2:
            sys.exit(__doc__)
        if argv[0] == "--scheduler":
            scheduler = argv[1]
        elif argv[0] == "--workers":
            workers = int(argv[1])
        else:
            numtally = argv[1]
        argv = argv[2:]
    if "--" not in argv:
        sys.exit(__doc__)
    at = argv.index("--")
    words, files = argv[:at], argv[at + 1:]
    if not files:
        sys.exit(__doc__)
    part_words, merge_words = [], []
    i = 0
    while i < len(words):
        n = MERGE_WORDS.get(words[i])
        if n is None:
            part_words.append(words[i])
            i += 1
        else:
            merge_words += words[i:i + 1 + n]
            i += 1 + n

    if scheduler is None:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1,
                               processes=False, dashboard_address=None)
        client = Client(cluster)
    else:
        cluster, client = None, Client(scheduler)
    try:
        futures = client.map(part_state, [numtally] * len(files),
                             [part_words] * len(files), files, pure=False)
        parts = client.gather(futures)
    finally:
        client.close()
        if cluster is not None:
            cluster.close()

    for status, _, err in parts:
        if status != 0:
            sys.stderr.buffer.write(err)
            return status
    with tempfile.TemporaryDirectory() as tmp:
        names = []
        for k, (_, state, _) in enumerate(parts):
            names.append(os.path.join(tmp, "part%d.state" % k))
            with open(names[-1], "wb") as f:
                f.write(state)
        sys.stdout.flush()
        return subprocess.run([numtally] + merge_words + ["--merge"] +
                              names).returncode


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
