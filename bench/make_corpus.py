#!/usr/bin/env python3
"""Makes the inflate benchmark's corpus from files on this machine, deterministically.

Text (/usr/share/doc), source (/usr/include), binaries (/usr/bin, then /usr/lib) and
already-compressed data (.gz files under /usr/share) are taken in sorted path order and
concatenated up to a size per kind; the result is compressed as raw deflate with zlib at levels
1, 6 and 9, and with 7-Zip as Deflate and Deflate64 (when 7z is installed). It does not time
anything: bench/inflate_bench reads what this writes.

  bench/make_corpus.py OUTDIR [--mib 128]
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

MIB = 1 << 20


def walk(roots, accept):
    """Regular files below roots (no symlinks), sorted by path, that accept() takes."""
    paths = []
    for root in roots:
        for dirpath, dirnames, filenames in os.walk(root):
            dirnames.sort()
            for name in filenames:
                path = os.path.join(dirpath, name)
                if os.path.islink(path) or not os.path.isfile(path):
                    continue
                if accept(path):
                    paths.append(path)
    return sorted(paths)


def take(paths, limit):
    """Concatenates files in order until limit bytes."""
    out = bytearray()
    for path in paths:
        if len(out) >= limit:
            break
        try:
            with open(path, "rb") as f:
                out += f.read(limit - len(out))
        except OSError:
            continue
    return bytes(out)


def raw_deflate(data, level):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def seven_zip_member(raw_path, method, workdir):
    """Compresses raw_path with 7-Zip into a zip and returns the member's compressed bytes."""
    zip_path = os.path.join(workdir, method + ".zip")
    if os.path.exists(zip_path):
        os.remove(zip_path)
    subprocess.run(["7z", "a", "-tzip", "-mm=" + method, zip_path, raw_path],
                   check=True, stdout=subprocess.DEVNULL)
    with open(zip_path, "rb") as f:
        z = f.read()
    sig, flags, method_id, csize, name_len, extra_len = struct.unpack_from("<I2xHH8xI4xHH", z, 0)
    if sig != 0x04034B50 or flags & 8:
        raise RuntimeError("unexpected zip layout from 7z")
    start = 30 + name_len + extra_len
    return method_id, z[start:start + csize]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir")
    parser.add_argument("--mib", type=int, default=128, help="corpus size in MiB (default 128)")
    args = parser.parse_args()
    total = args.mib * MIB
    os.makedirs(args.outdir, exist_ok=True)

    kinds = [
        ("text", 0.28, walk(["/usr/share/doc", "/usr/share/common-licenses"],
                            lambda p: not p.endswith((".gz", ".xz", ".bz2", ".png", ".jpg")))),
        ("source", 0.28, walk(["/usr/include"], lambda p: True)),
        ("compressed", 0.09, walk(["/usr/share"], lambda p: p.endswith(".gz"))),
        ("binary", 0.35, walk(["/usr/bin", "/usr/lib/x86_64-linux-gnu"],
                              lambda p: os.access(p, os.R_OK))),
    ]
    corpus = bytearray()
    for i, (name, share, paths) in enumerate(kinds):
        want = total - len(corpus) if i == len(kinds) - 1 else int(total * share)
        part = take(paths, want)
        print(f"{name:10s} {len(part) / MIB:7.1f} MiB from {len(paths)} files", file=sys.stderr)
        corpus += part
    corpus = bytes(corpus)
    raw_path = os.path.join(args.outdir, "corpus.raw")
    with open(raw_path, "wb") as f:
        f.write(corpus)
    for level in (1, 6, 9):
        packed = raw_deflate(corpus, level)
        with open(os.path.join(args.outdir, f"corpus.zlib{level}.deflate"), "wb") as f:
            f.write(packed)
        print(f"zlib level {level}: {len(packed) / MIB:7.1f} MiB", file=sys.stderr)
    if shutil.which("7z"):
        with tempfile.TemporaryDirectory() as work:
            for method, out_name, want_id in (("Deflate", "corpus.7z.deflate", 8),
                                              ("Deflate64", "corpus.7z.deflate64", 9)):
                method_id, packed = seven_zip_member(raw_path, method, work)
                if method_id != want_id:
                    raise RuntimeError(f"7z stored the corpus with method {method_id}")
                with open(os.path.join(args.outdir, out_name), "wb") as f:
                    f.write(packed)
                print(f"7z {method}: {len(packed) / MIB:7.1f} MiB", file=sys.stderr)
    else:
        print("7z not installed: no Deflate64 data", file=sys.stderr)


if __name__ == "__main__":
    main()
