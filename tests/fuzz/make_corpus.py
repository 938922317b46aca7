#!/usr/bin/env python3
"""Writes the fuzz target's seed corpus: small carriers, sound and damaged,
that reach each of extraction's branches. Run from anywhere; it rewrites
tests/fuzz/corpus byte for byte."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
IMAGE = b"MZ" + bytes(range(30))


def record(offset, size, name):
    return struct.pack("<II", offset, size) + name.ljust(32, b"\0")[:32]


def carrier(body, records, count=None):
    count = len(records) if count is None else count
    return body + b"".join(record(*r) for r in records) + struct.pack("<H", count & 0xFFFF)


def packed(files):
    body, records = IMAGE, []
    for name, data in files:
        records.append((len(body), len(data), name))
        body += data
    return body, records


def corpus():
    body, records = packed([(b"data1.cab", b"cabinet" * 9), (b"layout.bin", b"\x01\x02"),
                            (b"Setup.exe", b"MZsetup"), (b"empty", b"")])
    yield "release-like", carrier(body, records)
    yield "subdirectory-and-duplicates", carrier(body, [(32, 7, b"sub\\x"), (39, 7, b"dup"), (46, 7, b"DUP"),
                                                        (32, 3, b"dup")])
    yield "out-of-order-overlapping", carrier(body, [(60, 20, b"b"), (32, 40, b"a"), (0, len(body), b"all")])
    yield "traversal-names", carrier(body, [(32, 7, b"ok"), (32, 7, b"..\\x"), (32, 7, b"/abs"),
                                            (32, 7, b"C:x"), (32, 7, b"a:b"), (32, 7, b"n" * 32)])
    yield "negative-count", carrier(body, records, 0x8000)
    yield "directory-too-large", carrier(b"", records[:1], 3)
    yield "entry-past-end", carrier(body, [(32, 7, b"ok"), (32, 4096, b"long"), (0xFFFFFFF0, 32, b"wrap")])
    yield "count-only", b"\x01\x00"


def main():
    out = os.path.join(HERE, "corpus")
    os.makedirs(out, exist_ok=True)
    for name, data in corpus():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
