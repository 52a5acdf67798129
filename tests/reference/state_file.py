#!/usr/bin/env python3
"""A reader of numtally's state files written from docs/state-format.md
alone: another program's view of the format.  tests/shards_check.py reads
every state file it makes with it, so the page and the program cannot
drift apart.

usage: state_file.py FILE...   (prints a summary of each)
"""
import struct
import sys
import zlib

MAGIC = b"numtally-state\n\0"
KIND_VALUES, KIND_LISTED = 5, 2


class Body:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, n):
        if self.at + n > len(self.data):
            raise ValueError("the body ends early")
        b = self.data[self.at:self.at + n]
        self.at += n
        return b

    def u8(self):
        return self.take(1)[0]

    def u32(self):
        return struct.unpack("<I", self.take(4))[0]

    def u64(self):
        return struct.unpack("<Q", self.take(8))[0]

    def f64(self):
        return struct.unpack("<d", self.take(8))[0]

    def str(self):
        return self.take(self.u32())

    def f64s(self, n):
        return struct.unpack("<%dd" % n, self.take(8 * n))


def frames(blob):
    """The body: every frame's payload, each checked."""
    if blob[:16] != MAGIC:
        raise ValueError("not a numtally state file")
    (version,) = struct.unpack_from("<I", blob, 16)
    if version != 2:
        raise ValueError("version %d" % version)
    at, out = 20, []
    while True:
        (n,) = struct.unpack_from("<I", blob, at)
        if n > 1 << 20:
            raise ValueError("frame too long")
        (crc,) = struct.unpack_from("<I", blob, at + 4 + n)
        if zlib.crc32(blob[at:at + 4 + n]) != crc:
            raise ValueError("checksum")
        out.append(blob[at + 4:at + 4 + n])
        at += 8 + n
        if n == 0:
            break
    if at != len(blob):
        raise ValueError("bytes after the end frame")
    return b"".join(out)


def record(b):
    r = {"kind": b.u8(), "count": b.u64(), "shift_count": b.u64(),
         "n": (b.u64(), b.u64())}
    names = ["sum", "sum_x", "sum_x_2", "sum_y", "sum_y_2", "sum_x_y",
             "shift", "sum_d", "sum_d_lo", "sum_d_2", "sum_d_2_lo", "low",
             "high"]
    for name in names:
        r[name] = b.f64()
    r["pairs"] = [b.f64() for _ in range(18)]
    if b.u8():
        r["rest"] = [[b.u64() for _ in range(68)] for _ in range(7)]
        r["flags"], r["firsts"] = b.u8(), (b.u64(), b.u64(), b.u64())
        r["nan"] = b.f64()
    return r


def splits(b):
    out = []
    for _ in range(b.u32()):
        index, more = b.u32(), b.u8()
        out.append({"record": index, "more": bool(more),
                    "keys": [b.str() for _ in range(b.u32())]})
    return out


def stats(b):
    s = {"lines": b.u64(), "widest": b.u64()}
    for name in ("row_gaps", "col_gaps", "col_short", "col_short_row"):
        s[name] = [b.u64() for _ in range(b.u32())]
    return s


def read(path):
    b = Body(frames(open(path, "rb").read()))
    state = {"version": b.str().decode()}
    state["request"] = [b.str().decode() for _ in range(b.u32())]
    state["fields"] = [b.str() for _ in range(b.u32())]
    state["stats"] = stats(b)
    if "--by" not in state["request"]:
        count = b.u32()
        state["pair_lines"] = [b.u64() for _ in range(count)]
        state["splits"] = splits(b)
        state["records"] = []
        for _ in range(count):
            r = record(b)
            if r["kind"] in (KIND_VALUES, KIND_LISTED):
                r["values"] = b.f64s(r["count"])
            state["records"].append(r)
    else:
        requests, groups, width = b.u32(), b.u32(), b.u32()
        hot, listings = b.u8(), b.u8()
        state["splits"] = splits(b)
        state["groups"] = []
        for _ in range(groups):
            g = {"key": b.str()}
            g["gaps"] = [b.u64() for _ in range(width)] if b.u8() else None
            if hot:
                if b.u8() == 0:
                    g["hot"] = (b.f64(), b.f64(), b.u64())
                    g["records"] = []
                else:
                    g["records"] = [record(b)]
            else:
                g["records"] = []
                for _ in range(requests):
                    r = record(b)
                    if r["kind"] == KIND_VALUES:
                        r["values"] = b.f64s(r["count"])
                    g["records"].append(r)
            state["groups"].append(g)
        if listings:
            state["listed"] = [(b.u64(), b.f64()) for _ in range(b.u64())]
    if b.at != len(b.data):
        raise ValueError("%d bytes of the body left" % (len(b.data) - b.at))
    return state


if __name__ == "__main__":
    for path in sys.argv[1:]:
        s = read(path)
        what = ("%d groups" % len(s["groups"]) if "groups" in s
                else "%d records" % len(s["records"]))
        print("%s: numtally %s, %s; %d lines; %s" % (
            path, s["version"], " ".join(s["request"]), s["stats"]["lines"],
            what))
