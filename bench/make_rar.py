#!/usr/bin/env python3
# Writes the files below ROOT as a RAR 4 and a RAR 5 archive of stored members, every CRC filled in
# so that the peers accept them (no RAR writer is free): make_rar.py ROOT OUT4.rar OUT5.rar
import os, struct, sys, zlib
root, out4, out5 = sys.argv[1], sys.argv[2], sys.argv[3]
files = []
for d, _, names in sorted(os.walk(root)):
    for name in sorted(names):
        path = os.path.join(d, name)
        files.append((os.path.relpath(path, root), open(path, "rb").read()))
dos_time = (45 << 25) | (6 << 21) | (1 << 16)  # 2025-06-01 00:00

def rar4(path):
    def block(kind, flags, body, data=b""):
        head = struct.pack("<BHH", kind, flags, 7 + len(body)) + body
        return struct.pack("<H", zlib.crc32(head) & 0xFFFF) + head + data
    with open(path, "wb") as f:
        f.write(b"Rar!\x1a\x07\x00")
        f.write(block(0x73, 0, b"\0" * 6))
        for name, data in files:
            n = name.encode()
            body = struct.pack("<IIBIIBBHI", len(data), len(data), 3, zlib.crc32(data), dos_time,
                               29, 0x30, len(n), 0o100644) + n
            f.write(block(0x74, 0x8000, body, data))
        f.write(block(0x7B, 0x4000, b""))

def vint(v):
    out = bytearray()
    while True:
        out.append((v & 0x7F) | (0x80 if v > 0x7F else 0))
        v >>= 7
        if not v:
            return bytes(out)

def rar5(path):
    def block(fields, data=b""):
        size = vint(len(fields))
        return struct.pack("<I", zlib.crc32(size + fields)) + size + fields + data
    with open(path, "wb") as f:
        f.write(b"Rar!\x1a\x07\x01\x00")
        f.write(block(vint(1) + vint(0) + vint(0)))
        for name, data in files:
            n = name.encode()
            fields = (vint(2) + vint(0x0002) + vint(len(data)) + vint(0x0004) + vint(len(data)) +
                      vint(0o644) + struct.pack("<I", zlib.crc32(data)) + vint(0) + vint(1) +
                      vint(len(n)) + n)
            f.write(block(fields, data))
        f.write(block(vint(5) + vint(0) + vint(0)))

rar4(out4)
rar5(out5)
