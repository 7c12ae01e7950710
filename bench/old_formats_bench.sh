#!/usr/bin/env bash
# Times the decoding of ARJ and ARC archives: Parcelo against arj, arc and unar on the same
# archives, side by side in one hyperfine run per archive. "test" rows decode and check every
# member without writing (Parcelo: `parcelo-cli test` when it reads the type, else the
# old_formats_bench program over the member source; `arj t`, `arc t`, `lsar -t`); "extract" rows
# write the files into a fresh folder under /dev/shm (`parcelo-cli extract` when it reads the
# type, `arj x`, `arc x`, `unar`). Archives: ARJ methods 1 and 4 of text and program data, ARC
# crunched and squashed of the text (arc 5.21q and unar 1.10 both fail on the program data, which
# arc squeezes; unar also crashes now and then on ARC archives, so failed runs are timed too:
# hyperfine -i). Every tool's test must pass once before anything is timed.
#   BUILD_DIR  Release build folder with cli/parcelo-cli and bench/old_formats_bench
#              (default: build-bench, configured here)
#   BENCH_DIR  work folder (default: /dev/shm/parcelo-old-bench)
#   RUNS       runs per command (default: 10)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${BUILD_DIR:-build-bench}
work=${BENCH_DIR:-/dev/shm/parcelo-old-bench}
runs=${RUNS:-10}
for tool in hyperfine arj arc unar lsar python3; do
  command -v "$tool" >/dev/null || { echo "old_formats_bench: $tool is not installed" >&2; exit 1; }
done
if [[ ! -x $build_dir/bench/old_formats_bench || -z ${BUILD_DIR:-} ]]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARCELO_BUILD_TESTS=OFF \
    -DPARCELO_BUILD_BENCH=ON -DPARCELO_BUILD_GUI=OFF >/dev/null
  cmake --build "$build_dir" --target parcelo-cli old_formats_bench >/dev/null
fi
cli="$root/$build_dir/cli/parcelo-cli"
ours="$root/$build_dir/bench/old_formats_bench"
mkdir -p "$work/in"
cd "$work"

# ---- corpus: pseudo-text and program-like records, 6 MB in four files --------------------------
python3 - in <<'PY'
import random, struct, sys
rng = random.Random(20261210)
syll = ["ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "pe", "da"]
vocab = ["".join(rng.choice(syll) for _ in range(rng.randint(1, 4))) for _ in range(3000)]
w = [1.0 / (i + 1) for i in range(len(vocab))]
for n, size in (("TEXT1.TXT", 2_000_000), ("TEXT2.TXT", 1_000_000)):
    out, total = [], 0
    while total < size:
        line = " ".join(rng.choices(vocab, w, k=rng.randint(4, 14))) + "\r\n"
        out.append(line); total += len(line)
    open(f"{sys.argv[1]}/{n}", "w").write("".join(out)[:size])
noise = rng.randbytes(600_000)
recs = b"".join(struct.pack("<IH6x", i, i * 7 & 0xFFFF) + noise[4 * i:4 * i + 4] for i in range(150_000))
open(f"{sys.argv[1]}/PROG.BIN", "wb").write(recs[:2_400_000])
open(f"{sys.argv[1]}/MIXED.BIN", "wb").write(recs[:300_000] + noise[:300_000])
PY
files="TEXT1.TXT TEXT2.TXT PROG.BIN MIXED.BIN"
rm -f ./*.arj ./*.arc
(cd in && arj a -y -m1 ../m1.arj $files >/dev/null && arj a -y -m4 ../m4.arj $files >/dev/null &&
  arc a ../crunch.arc TEXT1.TXT TEXT2.TXT >/dev/null && arc aq ../squash.arc TEXT1.TXT TEXT2.TXT >/dev/null)

ours_test() {  # the command that tests archive $2 of family $1 with Parcelo
  if "$cli" test "$2" >/dev/null 2>&1; then echo "$cli test $2"; else echo "$ours $1 $2"; fi
}
ours_extract() {
  if "$cli" test "$2" >/dev/null 2>&1; then echo "rm -rf out && $cli extract $2 -d $work/out"; fi
}
for archive in m1.arj m4.arj crunch.arc squash.arc; do
  family=${archive##*.}
  if [[ $family == arj ]]; then tool_test="arj t -y $archive"; tool_x="rm -rf out && mkdir out && arj x -y $archive out/"
  else tool_test="arc t $archive"; tool_x="rm -rf out && mkdir out && cd out && arc x ../$archive"; fi
  t_ours=$(ours_test "$family" "$archive")
  for c in "$t_ours" "$tool_test" "lsar -t $archive"; do
    bash -c "$c" >/dev/null 2>&1 || { echo "old_formats_bench: '$c' failed" >&2; exit 1; }
  done
  echo "== $archive ($(stat -c %s "$archive") bytes): test"
  hyperfine -N -i -w 1 -r "$runs" -n parcelo "$t_ours" -n "${family}" "$tool_test" -n lsar "lsar -t $archive" 2>/dev/null |
    grep -E "^ *(Time|Benchmark)|±|faster" || true
  x_ours=$(ours_extract "$family" "$archive")
  echo "== $archive: extract"
  if [[ -n $x_ours ]]; then
    hyperfine -i -w 1 -r "$runs" -n parcelo "$x_ours" -n "$family" "$tool_x" \
      -n unar "rm -rf out && unar -q -o out $archive" 2>/dev/null | grep -E "^ *(Time|Benchmark)|±|faster" || true
  else
    hyperfine -i -w 1 -r "$runs" -n "$family" "$tool_x" -n unar "rm -rf out && unar -q -o out $archive" 2>/dev/null |
      grep -E "^ *(Time|Benchmark)|±|faster" || true
  fi
done
