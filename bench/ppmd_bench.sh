#!/usr/bin/env bash
# Times `parcelo-cli extract` against `7zz x` on one large PPMd member (7-Zip's zip, -mm=PPMd)
# side by side in one hyperfine run, each extracting into a fresh folder under /dev/shm; then
# prints the medians, the ratio and both tools' peak memory. The data is bench/make_corpus.py's
# corpus (text, headers, compressed files and binaries); both outputs are checked against it first.
#   BUILD_DIR  build folder holding cli/parcelo-cli (default: build-bench, configured Release here)
#   BENCH_DIR  work folder (default: /dev/shm/parcelo-ppmd-bench; the corpus stays for reruns)
#   MIB        corpus size in MiB (default: 32)
#   LEVEL      7-Zip's -mx level (default: 9: order 32 is capped to the zip's 16, cut-off)
#   RUNS       runs of each command (default: 5)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${BUILD_DIR:-build-bench}
work=${BENCH_DIR:-/dev/shm/parcelo-ppmd-bench}
mib=${MIB:-32}
level=${LEVEL:-9}
runs=${RUNS:-5}

for tool in hyperfine 7zz python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "ppmd_bench: $tool is not installed" >&2; exit 1; }
done
if [[ ! -x $build_dir/cli/parcelo-cli || -z ${BUILD_DIR:-} ]]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARCELO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build_dir" --target parcelo-cli >/dev/null
fi
cli="$root/$build_dir/cli/parcelo-cli"
mkdir -p "$work"
if [[ ! -f $work/corpus-$mib/corpus.raw ]]; then
  python3 bench/make_corpus.py "$work/corpus-$mib" --mib "$mib" >/dev/null
fi
zip="$work/ppmd-$mib-mx$level.zip"
if [[ ! -f $zip ]]; then
  (cd "$work/corpus-$mib" && 7zz a -tzip -mm=PPMd -mx="$level" "$zip" corpus.raw >/dev/null)
fi

# Both tools' output checked before anything is timed.
rm -rf "$work/out-p" "$work/out-7"
"$cli" extract -q "$zip" -d "$work/out-p"
7zz x -y -o"$work/out-7" "$zip" >/dev/null
cmp "$work/out-p/corpus.raw" "$work/corpus-$mib/corpus.raw"
cmp "$work/out-7/corpus.raw" "$work/corpus-$mib/corpus.raw"

echo "PPMd member: $(stat -c %s "$work/corpus-$mib/corpus.raw") bytes, packed $(stat -c %s "$zip"), -mx=$level"
hyperfine -N -w 1 -r "$runs" --export-json "$work/ppmd.json" \
  --prepare "rm -rf $work/out-p $work/out-7" \
  -n parcelo "$cli extract -q $zip -d $work/out-p" \
  -n 7zz "7zz x -y -o$work/out-7 $zip"
python3 - "$work/ppmd.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
p, s = r["parcelo"]["median"], r["7zz"]["median"]
print(f"median: parcelo {p:.2f} s, 7zz {s:.2f} s, ratio {p / s:.2f}")
PY
for name in parcelo 7zz; do
  rm -rf "$work/out-p" "$work/out-7"
  if [[ $name == parcelo ]]; then
    /usr/bin/time -f "peak memory: parcelo %M KiB" "$cli" extract -q "$zip" -d "$work/out-p"
  else
    /usr/bin/time -f "peak memory: 7zz %M KiB" 7zz x -y -o"$work/out-7" "$zip" >/dev/null
  fi
done
rm -rf "$work/out-p" "$work/out-7"
