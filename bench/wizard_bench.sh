#!/usr/bin/env bash
# Times the wizard's extraction (bench/wizard_bench: the real window, offscreen, its progress
# handler and event pumping) against `parcelo-cli extract -q` on the same archive of many files,
# each run into a fresh folder under /dev/shm, side by side in one hyperfine run; prints the
# medians and the wizard's ratio to the command-line tool, whole and without the wizard's start
# (a window program's start-up, timed alone with --start-only, is not what the extraction costs).
# Both outputs are first compared with the source files. Fails when the extraction through the
# wizard takes more than 1.1 times the command-line tool's time.
#   BUILD_DIR  a Release build with PARCELO_BUILD_GUI and PARCELO_BUILD_BENCH (default: build-bench,
#              configured here)
#   BENCH_DIR  work folder (default: /dev/shm/parcelo-wizard-bench; the archive stays for reruns)
#   RUNS       runs of each command (default: 10)
#   FILES      files in the archive (default: 3000)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${BUILD_DIR:-build-bench}
work=${BENCH_DIR:-/dev/shm/parcelo-wizard-bench}
runs=${RUNS:-10}
files=${FILES:-3000}
for tool in hyperfine zip python3; do
  command -v "$tool" >/dev/null || { echo "wizard_bench: $tool is not installed" >&2; exit 1; }
done
if [[ -z ${BUILD_DIR:-} ]]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARCELO_BUILD_TESTS=OFF \
    -DPARCELO_BUILD_GUI=ON -DPARCELO_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$build_dir" --target parcelo-cli wizard_bench >/dev/null
cli="$root/$build_dir/cli/parcelo-cli"
wizard="$root/$build_dir/bench/wizard_bench"

mkdir -p "$work"
corpus="$work/corpus-$files"
archive="$work/many-$files.zip"
if [[ ! -f $archive ]]; then
  rm -rf "$corpus"
  python3 - "$corpus" "$files" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(1234)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
         for _ in range(3000)]
for i in range(count):
    folder = os.path.join(root, "dir%02d" % (i % 40))
    os.makedirs(folder, exist_ok=True)
    size = int(rng.paretovariate(1.2) * 6000) % 400000 + 200
    text = []
    n = 0
    while n < size:
        w = rng.choice(words)
        text.append(w)
        n += len(w) + 1
    with open(os.path.join(folder, "file%05d.txt" % i), "w") as f:
        f.write(" ".join(text)[:size])
PY
  (cd "$corpus" && zip -q -r -X "$archive" .)
fi
echo "wizard_bench: $(du -sh "$corpus" | cut -f1) in $files files, archive $(du -h "$archive" | cut -f1)"

out="$work/out"
export QT_QPA_PLATFORM=offscreen
# Both must produce the same files before anything is timed.
for who in cli wizard; do
  rm -rf "$out" && mkdir -p "$out"
  if [[ $who == cli ]]; then "$cli" extract -q "$archive" -d "$out"; else "$wizard" "$archive" "$out" >/dev/null; fi
  diff -r "$corpus" "$out" >/dev/null || { echo "wizard_bench: $who's output differs" >&2; exit 1; }
done

json="$work/result.json"
hyperfine --runs "$runs" --warmup 1 --export-json "$json" \
  --prepare "rm -rf '$out' && mkdir -p '$out'" \
  -n parcelo-cli "'$cli' extract -q '$archive' -d '$out'" \
  -n wizard "'$wizard' '$archive' '$out'" \
  -n wizard-start "'$wizard' --start-only '$archive' '$out'" >/dev/null
python3 - "$json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
cli, wiz, start = results["parcelo-cli"], results["wizard"], results["wizard-start"]
for name, r in (("parcelo-cli", cli), ("wizard", wiz), ("wizard-start", start)):
    print("%-12s median %.3f s  user %.3f s  system %.3f s" % (name, r["median"], r["user"], r["system"]))
whole = wiz["median"] / cli["median"]
extraction = (wiz["median"] - start["median"]) / cli["median"]
print("wizard / parcelo-cli: %.3f whole, %.3f for the extraction alone" % (whole, extraction))
sys.exit(0 if extraction <= 1.1 else 1)
PY
