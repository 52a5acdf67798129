#!/usr/bin/env python3
"""Makes the state files of tests/cli/shards.cases: two good parts of one
run, and files that are each wrong in one way.  Run from this folder with
the built program: make_states.py NUMTALLY (the files are committed; make
them again only when the format's version changes)."""
import struct
import subprocess
import sys

numtally = sys.argv[1]
words = ["--header", "mean", "--col", "b", "median", "--col", "b"]


def state(path, stdin, argv=words):
    subprocess.run([numtally, "--state-out", path] + argv,
                   input=stdin.encode(), check=True)


state("a.state", "a\tb\n1\t2\n3\t4\n")
state("b.state", "a\tb\n5\n6\t7\n8\n")
# The same words over another header line (b still the second column).
state("other-header.state", "x\tb\n5\t6\n")
state("other-request.state", "a\tb\n5\t6\n",
      ["--header", "mean", "--col", "b"])
state("grouped.state", "k\tv\nx\t1\ny\t2\nx\t3\n",
      ["--header", "--by", "k", "sum", "--col", "v", "max", "--col", "v"])
# welch-t --split: the second part meets the keys the other way round.
split = ["welch-t", "--col", "1", "--split", "2"]
state("split-a.state", "1 a\n2 b\n3 a\n", split)
state("split-b.state", "5 b\n8 a\n13 b\n", split)
good = open("b.state", "rb").read()
# Cut inside its last frame.
open("cut.state", "wb").write(good[: len(good) - 7])
# One byte of the body changed: its frame's checksum fails.
flip = bytearray(good)
flip[40] ^= 0x10
open("flip.state", "wb").write(bytes(flip))
# Another version of the format.
open("version.state", "wb").write(good[:16] + struct.pack("<I", 3) + good[20:])
# Bytes after the end frame.
open("trailing.state", "wb").write(good + b"\0")
