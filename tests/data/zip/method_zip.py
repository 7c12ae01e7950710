#!/usr/bin/env python3
"""Writes a zip whose members use the methods Python's zipfile cannot write: Zstandard (93, with
the python3-zstandard module) and XZ (95, Python's lzma), and members whose bytes are given as
they are (any method number). Used by the tests to make fixtures at test time.

    method_zip.py OUT.zip METHOD:NAME:SOURCE[:SIZE[:FLAGS]] [...]

METHOD is zstd, zstd-window (a frame that claims a 2 GiB window), xz, or raw-N (SOURCE's bytes
are the member's data as stored, with method N). The declared size is SOURCE's (for raw-N the
bytes' own) unless SIZE gives another; FLAGS are the general-purpose flags (default 0). The CRC
is of SOURCE's bytes.
"""
import struct
import sys
import zlib


def compress(kind, data):
    if kind == "zstd":
        import zstandard
        return 93, zstandard.ZstdCompressor(level=3).compress(data)
    if kind == "zstd-window":
        # A frame header with a window descriptor of exponent 21: 1 << (10 + 21) = 2 GiB; then
        # a raw block holding the data, as the last block.
        assert len(data) < (1 << 21)
        header = b"\x28\xb5\x2f\xfd" + bytes([0x00, 21 << 3])
        block = struct.pack("<I", 1 | (0 << 1) | (len(data) << 3))[:3]
        return 93, header + block + data
    if kind == "xz":
        import lzma
        return 95, lzma.compress(data, format=lzma.FORMAT_XZ)
    if kind.startswith("raw-"):
        return int(kind[4:]), data
    raise SystemExit("unknown method " + kind)


def main():
    out = sys.argv[1]
    local = bytearray()
    central = bytearray()
    for spec in sys.argv[2:]:
        fields = spec.split(":")
        kind, name, source = fields[:3]
        data = open(source, "rb").read()
        method, packed = compress(kind, data)
        crc = zlib.crc32(data) & 0xFFFFFFFF
        size = int(fields[3]) if len(fields) > 3 and fields[3] else len(data)
        flags = int(fields[4], 0) if len(fields) > 4 else 0
        name_bytes = name.encode()
        offset = len(local)
        local += struct.pack("<IHHHHHIIIHH", 0x04034B50, 63, flags, method, 0, 0x21, crc,
                             len(packed), size, len(name_bytes), 0) + name_bytes + packed
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 63, 63, flags, method, 0, 0x21,
                               crc, len(packed), size, len(name_bytes), 0, 0, 0, 0, 0,
                               offset) + name_bytes
    count = len(sys.argv) - 2
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, len(central), len(local), 0)
    with open(out, "wb") as f:
        f.write(local + central + end)


if __name__ == "__main__":
    main()
