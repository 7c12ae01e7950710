#!/usr/bin/env bash
# Times `parcelo-cli extract` on the formats libarchive reads against their peers, side by side in
# one hyperfine run per archive: many small files as .tar.gz, .tar.xz and .tar.zst against bsdtar
# (and GNU tar), .7z (LZMA2) of many files and of one large file against 7-Zip (`7zz x`), LHA
# (-lh5- by lha) against lhasa, cabinets (MSZIP by gcab) against cabextract, and RAR 4 (stored
# members by bench/make_rar.py, as no RAR writer is free) beside bsdtar, unrar-free and unar; then
# the peak memory of each command (GNU time's maximum resident set). It makes its archives in a
# temporary folder and removes them. ONLY=name,name limits the races to those named (tar.gz,
# tar.xz, tar.zst, 7z, 7z-large, lha, lha-large, cab, cab-large, rar).
#   BUILD_DIR  build folder holding cli/parcelo-cli (default: build)
#   ENTRIES    number of small files (default: 5000)
#   LARGE_MB   size of the large file in MiB (default: 64)
#   RUNS       hyperfine runs per command (default: 10)
#   WORK_DIR   where the archives and the output go (default: /dev/shm when writable, else /tmp)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
entries=${ENTRIES:-5000}
large_mb=${LARGE_MB:-64}
runs=${RUNS:-10}
cli="$PWD/$build_dir/cli/parcelo-cli"
[[ -x $cli ]] || { echo "formats_extract_bench: $cli not built" >&2; exit 1; }
only=${ONLY:-}
for tool in hyperfine python3 bsdtar tar 7zz zstd xz lha lhasa gcab cabextract; do
  command -v $tool >/dev/null || { echo "formats_extract_bench: $tool is not installed" >&2; exit 1; }
done

# In memory where there is room (/dev/shm): the races time the decoders, not a loaded disk.
work=$(mktemp -d "${WORK_DIR:-$( [[ -w /dev/shm ]] && echo /dev/shm || echo /tmp)}/parcelo-formats-extract-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Small files in 50 folders, as a source tree would have them, and one large file of mixed data.
python3 - "$work/src" "$entries" "$work/large/big.bin" "$large_mb" <<'PY'
import os, random, sys
root, n, big, mb = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
r = random.Random(7)
words = [bytes(r.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(r.randint(2, 9))) for _ in range(4000)]
for i in range(n):
    d = os.path.join(root, "dir%02d" % (i % 50), "sub")
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "file%05d.txt" % i), "wb") as f:
        f.write(b" ".join(r.choice(words) for _ in range(r.randint(50, 800))))
os.makedirs(os.path.dirname(big), exist_ok=True)
with open(big, "wb") as f:
    for _ in range(mb * 16):
        f.write(b" ".join(r.choice(words) for _ in range(9000))[:49152] + os.urandom(16384))
PY
(cd "$work/src" && tar -cf "$work/many.tar" dir* &&
  gzip -6 -c "$work/many.tar" > "$work/many.tar.gz" &&
  xz -6 -T1 -c "$work/many.tar" > "$work/many.tar.xz" &&
  zstd -q -3 -c "$work/many.tar" > "$work/many.tar.zst" &&
  7zz a -bd -mx=5 -m0=LZMA2 "$work/many.7z" dir* >/dev/null)
(cd "$work/large" && 7zz a -bd -mx=5 -m0=LZMA2 -mmt=1 "$work/large.7z" big.bin >/dev/null)
(cd "$work/src" && lha aq "$work/many.lzh" dir* >/dev/null 2>&1)
(cd "$work/large" && lha aq "$work/large.lzh" big.bin >/dev/null 2>&1)
(cd "$work/src" && find dir* -type f | sort | xargs gcab -c -z "$work/many.cab")
(cd "$work/large" && gcab -c -z "$work/large.cab" big.bin)
python3 bench/make_rar.py "$work/src" "$work/many.rar" "$work/many5.rar"

race() {
  local name=$1 archive=$2
  shift 2
  if [[ -n $only && ",$only," != *",$name,"* ]]; then return; fi
  echo "== $name ($(du -h "$archive" | cut -f1))"
  hyperfine --runs "$runs" --warmup 1 --style basic \
    --prepare "rm -rf $work/out && mkdir -p $work/out" \
    "$cli extract -q $archive -d $work/out" "$@"
  for command in "$cli extract -q $archive -d $work/out" "$@"; do
    rm -rf "$work/out" && mkdir -p "$work/out"
    /usr/bin/time -f "%M" -o "$work/peak" sh -c "$command" >/dev/null 2>&1 || true
    printf '   peak %6s KiB  %s\n' "$(tail -1 "$work/peak")" "$command"
  done
}

race tar.gz "$work/many.tar.gz" "bsdtar -xf $work/many.tar.gz -C $work/out" \
  "tar -xzf $work/many.tar.gz -C $work/out"
race tar.xz "$work/many.tar.xz" "bsdtar -xf $work/many.tar.xz -C $work/out" \
  "tar -xJf $work/many.tar.xz -C $work/out"
race tar.zst "$work/many.tar.zst" "bsdtar -xf $work/many.tar.zst -C $work/out"
race 7z "$work/many.7z" "7zz x -y -bd -o$work/out $work/many.7z"
race 7z-large "$work/large.7z" "7zz x -y -bd -o$work/out $work/large.7z"
race lha "$work/many.lzh" "cd $work/out && lhasa xq $work/many.lzh"
race lha-large "$work/large.lzh" "cd $work/out && lhasa xq $work/large.lzh"
race cab "$work/many.cab" "cabextract -q -d $work/out $work/many.cab"
race cab-large "$work/large.cab" "cabextract -q -d $work/out $work/large.cab"
race rar "$work/many.rar" "bsdtar -xf $work/many.rar -C $work/out" \
  "cd $work/out && unrar-free -x $work/many.rar >/dev/null" "unar -q -f -o $work/out $work/many.rar"
