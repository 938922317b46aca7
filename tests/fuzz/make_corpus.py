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


def pe_image(size=0x200):
    """A minimal PE32 image: its headers, sixteen empty data directories."""
    image = bytearray(size)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x40)
    image[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HH", image, 0x44, 0x14C, 0)
    struct.pack_into("<H", image, 0x44 + 16, 224)
    struct.pack_into("<H", image, 0x58, 0x10B)
    struct.pack_into("<I", image, 0x58 + 60, size)
    struct.pack_into("<I", image, 0x58 + 92, 16)
    return image


def signed(carrier_bytes, table):
    """carrier_bytes, whose image is a pe_image, signed as a signer does it:
    zeros to a multiple of 8, the table, the security directory set."""
    out = bytearray(carrier_bytes)
    out += bytes(-len(out) % 8)
    struct.pack_into("<II", out, 0x58 + 96 + 4 * 8, len(out), len(table))
    return bytes(out) + table


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
    # Packed as carrier pack packs, then signed. The table's last bytes read
    # as a directory of their own: a reader that takes the end of the file
    # for the payload's end extracts "rogue".
    pe_body, pe_records = bytes(pe_image()), []
    for name, data in [(b"Setup.exe", b"MZsetup"), (b"data1.cab", b"cabinet" * 5)]:
        pe_records.append((len(pe_body), len(data), name))
        pe_body += data
    pe_body += bytes(-(len(pe_body) + 40 * len(pe_records) + 2) % 8)
    table = struct.pack("<IHH", 64, 0x200, 2) + bytes(range(14)) + carrier(b"", [(0, 16, b"rogue")])
    yield "signed", signed(carrier(pe_body, pe_records), table)


def main():
    out = os.path.join(HERE, "corpus")
    os.makedirs(out, exist_ok=True)
    for name, data in corpus():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
