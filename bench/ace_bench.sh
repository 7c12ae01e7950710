#!/usr/bin/env bash
# Times reading ACE archives whole (every member decoded and its CRC checked, nothing written)
# with Parcelo's ACE source (bench/ace_bench test) against acefile.py -t, the one reader on this
# machine that decodes ACE 2.0 (unar lists ACE archives but extracts nothing from them), side by
# side in one hyperfine run per archive: the conformance archives (ACE 1.0 and 2.0) when present,
# and a 2 MiB ACE 2.0 archive made here. Both readers must pass every archive before timing.
#   BUILD_DIR  Release build folder with bench/ace_bench (default: build-bench, configured here)
#   RUNS       rounds (default: 5)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${BUILD_DIR:-build-bench}
runs=${RUNS:-5}
acefile=$root/../shared/tools/acefile/acefile.py
testdata=$root/../shared/testdata/other
for tool in hyperfine python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "ace_bench: $tool is not installed" >&2; exit 1; }
done
[[ -f $acefile ]] || { echo "ace_bench: $acefile is missing" >&2; exit 1; }
if [[ ! -x $build_dir/bench/ace_bench ]]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARCELO_BUILD_BENCH=ON \
    -DPARCELO_BUILD_GUI=OFF >/dev/null
  cmake --build "$build_dir" --target ace_bench >/dev/null
fi
bench=$root/$build_dir/bench/ace_bench
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" make "$work/made.ace" 2
archives=("$work/made.ace")
for name in sc_Ace.method1.ace sc_Ace.method2.ace; do
  [[ -f $testdata/$name ]] && archives+=("$testdata/$name")
done
for archive in "${archives[@]}"; do
  "$bench" test "$archive"
  python3 "$acefile" -b -t "$archive" >/dev/null
  echo "== $(basename "$archive") ($(stat -c %s "$archive") bytes)"
  hyperfine -N --runs "$runs" --warmup 1 -n parcelo "$bench test $archive" \
    -n acefile.py "python3 $acefile -b -t $archive" | grep -E "Time|±|faster|parcelo|acefile"
  for command in "$bench test $archive" "python3 $acefile -b -t $archive"; do
    /usr/bin/time -f "peak memory %M KiB: $command" $command >/dev/null
  done
done
