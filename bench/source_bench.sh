#!/usr/bin/env bash
# Times LHA and cabinet extraction through the member sources (bench/source_extract) against
# `lhasa x` and `cabextract`, each run into a fresh folder under /dev/shm, side by side in one
# hyperfine run per archive; prints medians, the ratio to the rival and each tool's peak memory.
# Archives: many small text files and one large file, as -lh5- and -lh7- (jlha) and as MSZIP
# (gcab -z). Every tool's output is compared with the source files before anything is timed.
#   BUILD_DIR  build folder holding bench/source_extract (default: build-bench, Release)
#   BENCH_DIR  work folder (default: /dev/shm/parcelo-source-bench)
#   RUNS       rounds (default: 10)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${BUILD_DIR:-build-bench}
work=${BENCH_DIR:-/dev/shm/parcelo-source-bench}
runs=${RUNS:-10}
for tool in hyperfine jlha lhasa gcab cabextract python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "source_bench: $tool is not installed" >&2; exit 1; }
done
if [[ ! -x $build_dir/bench/source_extract || -z ${BUILD_DIR:-} ]]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARCELO_BUILD_TESTS=OFF \
    -DPARCELO_BUILD_GUI=OFF -DPARCELO_BUILD_BENCH=ON >/dev/null
  cmake --build "$build_dir" --target source_extract >/dev/null
fi
tool="$root/$build_dir/bench/source_extract"
mkdir -p "$work"
corpus="$work/corpus"
if [[ ! -f $corpus/.done ]]; then
  rm -rf "$corpus" && mkdir -p "$corpus/small" "$corpus/large"
  python3 - "$corpus" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20261210)
words = [bytes(rng.choice(b"etaoinshrdlucmfwyp") for _ in range(rng.randint(2, 9))) for _ in range(3000)]
def text(n):
    out = bytearray()
    while len(out) < n:
        out += rng.choice(words) + (b"\n" if rng.random() < 0.1 else b" ")
    return bytes(out[:n])
for i in range(2000):
    with open(os.path.join(root, "small", "f%04d.txt" % i), "wb") as f:
        f.write(text(rng.randint(200, 12000)))
with open(os.path.join(root, "large", "big.txt"), "wb") as f:
    f.write(text(16 << 20))
PY
  touch "$corpus/.done"
fi
archives="$work/archives"
mkdir -p "$archives"
for set in small large; do
  for m in 5 7; do
    [[ -f $archives/$set-lh$m.lzh ]] || (cd "$corpus/$set" && jlha ao$m "$archives/$set-lh$m.lzh" * >/dev/null)
  done
  [[ -f $archives/$set.cab ]] || (cd "$corpus/$set" && gcab -c -z "$archives/$set.cab" * )
done
check() {  # folder set
  diff -r "$1" "$corpus/$2" >/dev/null || { echo "source_bench: $1 differs from $2" >&2; exit 1; }
}
out="$work/out"
for archive in "$archives"/*; do
  base=$(basename "$archive"); set=${base%%[-.]*}
  case $base in
    *.lzh) kind=lha; rival="lhasa xq"; rival_cmd() { (cd "$1" && lhasa xq "$archive"); } ;;
    *.cab) kind=cab; rival="cabextract"; rival_cmd() { cabextract -q -d "$1" "$archive"; } ;;
  esac
  rm -rf "$out" && mkdir -p "$out/a" "$out/b"
  "$tool" $kind "$archive" "$out/a"; check "$out/a" "$set"
  rival_cmd "$out/b"; check "$out/b" "$set"
  echo "== $base ($(du -h "$archive" | cut -f1))"
  if [[ $kind == lha ]]; then rcmd="cd $out/r && lhasa xq $archive"; else rcmd="cabextract -q -d $out/r $archive"; fi
  hyperfine -N -w 1 -r "$runs" --export-json "$work/$base.json" \
    --prepare "rm -rf $out/p $out/r; mkdir -p $out/p $out/r" \
    -n parcelo "$tool $kind $archive $out/p" -n "$rival" "bash -c '$rcmd'" >/dev/null
  python3 - "$work/$base.json" <<'PY'
import json, statistics, sys
r = json.load(open(sys.argv[1]))["results"]
m = {x["command"]: statistics.median(x["times"]) for x in r}
names = list(m)
for n in names: print("  %-12s %8.1f ms" % (n, m[n] * 1000))
print("  ratio parcelo/%s: %.2f" % (names[1], m[names[0]] / m[names[1]]))
PY
  rm -rf "$out/p" "$out/r"; mkdir -p "$out/p" "$out/r"
  p=$( { /usr/bin/time -f %M "$tool" $kind "$archive" "$out/p"; } 2>&1 | tail -1 )
  r=$( { /usr/bin/time -f %M bash -c "$rcmd"; } 2>&1 | tail -1 )
  echo "  peak memory: parcelo ${p} KiB, $rival ${r} KiB (the rival's includes its bash)"
done
