#!/usr/bin/env bash
# Times `parcelo-cli list` on a TAR, a gzip-compressed TAR, an LHA, a RAR 4 and a RAR 5 archive of
# many members against the fastest peers that list each (`bsdtar -tf`, `tar -tf`, `lhasa l`,
# `lha l`, `lsar`, `unrar-free l`), side by side in one hyperfine run per archive. It makes its
# own archives in a temporary folder and removes them: TAR and LHA with GNU tar and lha, RAR with
# a small block writer below (no RAR writer is free), stored members with every CRC filled in so
# that the peers accept them.
#   BUILD_DIR  build folder holding cli/parcelo-cli (default: build)
#   ENTRIES    number of members (default: 10000)
#   RUNS       hyperfine runs per command (default: 20)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
entries=${ENTRIES:-10000}
runs=${RUNS:-20}
cli="$PWD/$build_dir/cli/parcelo-cli"
[[ -x $cli ]] || { echo "formats_list_bench: $cli not built" >&2; exit 1; }
for tool in hyperfine python3 tar lha; do
  command -v $tool >/dev/null || { echo "formats_list_bench: $tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d /tmp/parcelo-formats-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Small files in 50 folders, as a source tree would have them.
python3 - "$work/src" "$entries" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "dir%02d" % (i % 50), "sub")
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file%05d.txt" % i), "w") as f:
        f.write(("content %d\n" % i) * 20)
PY
(cd "$work/src" && tar -cf "$work/many.tar" dir* && gzip -k "$work/many.tar" &&
  mv "$work/many.tar.gz" "$work/many.tgz" && lha a2q "$work/many.lzh" dir* >/dev/null 2>&1)

python3 - "$work/src" "$work" <<'PY'
import os, struct, sys, zlib
root, out = sys.argv[1], sys.argv[2]
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

rar4(os.path.join(out, "many4.rar"))
rar5(os.path.join(out, "many5.rar"))
PY

# parcelo-cli must list every member before its speed means anything; peers must list at least
# as many lines.
bench() {
  local archive=$1
  shift
  local listed
  listed=$("$cli" list "$work/$archive" | wc -l)
  [[ $listed -eq $entries ]] || { echo "formats_list_bench: $archive: listed $listed of $entries" >&2; exit 1; }
  local args=(--command-name "parcelo-cli list" "$cli list $work/$archive")
  for peer in "$@"; do
    local tool=${peer%% *}
    command -v "$tool" >/dev/null || { echo "formats_list_bench: $tool not installed, left out" >&2; continue; }
    local lines
    lines=$(bash -c "$peer $work/$archive" 2>/dev/null | wc -l || true)
    if ((lines < entries)); then
      echo "formats_list_bench: $peer lists $lines lines of $archive, left out" >&2
      continue
    fi
    args+=(--command-name "$peer" "$peer $work/$archive")
  done
  echo "== $archive: $entries members, $(stat -c %s "$work/$archive") bytes"
  hyperfine -N --warmup 2 --runs "$runs" "${args[@]}"
}

bench many.tar "bsdtar -tf" "tar -tf" "lsar"
bench many.tgz "bsdtar -tzf" "tar -tzf" "lsar"
bench many.lzh "lhasa l" "lha l" "bsdtar -tf" "lsar"
bench many4.rar "unrar-free l" "bsdtar -tf" "lsar"
bench many5.rar "unrar-free l" "bsdtar -tf" "lsar"
