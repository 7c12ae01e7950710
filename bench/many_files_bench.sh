#!/usr/bin/env bash
# Times `parcelo-cli extract` of many small files with two builds side by side, to see what a
# change costs per file (making, staging and settling each output): OLD_CLI against NEW_CLI on
#   tiny   10,000 deflated files of 100 B to 4 KB in 50 folders (the per-file work dominates)
#   small  3,000 deflated files of about 100 KB (extract_bench.sh's small-deflate corpus)
# Each round runs both commands once in one hyperfine call, into a fresh folder under /dev/shm,
# the order swapped round by round; medians and the ratio NEW/OLD are printed. Both outputs are
# checked against the source files first.
#   OLD_CLI, NEW_CLI  the two parcelo-cli programs (required)
#   BENCH_DIR         work folder (default: /dev/shm/parcelo-many-files-bench; corpora are kept)
#   RUNS              rounds (default: 15)
#   ARCHIVES          which of "tiny small" to time (default: both)
# Wall-clock and CPU times (user + system) are both given: on a loaded machine the CPU time is the
# steadier figure.
set -euo pipefail
old=${OLD_CLI:?OLD_CLI: the earlier parcelo-cli}
new=${NEW_CLI:?NEW_CLI: the parcelo-cli to compare}
work=${BENCH_DIR:-/dev/shm/parcelo-many-files-bench}
runs=${RUNS:-15}
for tool in hyperfine zip python3; do
  command -v "$tool" >/dev/null || { echo "many_files_bench: $tool is not installed" >&2; exit 1; }
done
mkdir -p "$work"

if [[ ! -f $work/.done ]]; then
  rm -rf "$work/tiny" "$work/small" "$work"/*.zip
  python3 - "$work" <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20261210)
words = ["".join(rng.choice("aeiouklmnprst") for _ in range(rng.randint(2, 9))) for _ in range(3000)]
pool = " ".join(rng.choice(words) for _ in range(800_000)).encode()  # about 5 MB of word salad
def text(n):
    start = rng.randrange(0, len(pool) - n - 1)
    return pool[start:start + n]
for i in range(10000):
    d = os.path.join(root, "tiny", "d%02d" % (i % 50))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d.txt" % i), "wb") as f:
        f.write(text(rng.randint(100, 4096)))
for i in range(3000):
    d = os.path.join(root, "small", "dir%02d" % (i % 40), "sub%d" % (i % 3))
    os.makedirs(d, exist_ok=True)
    n = min(max(1, int(rng.expovariate(1.0 / 100_000))), 400_000)
    with open(os.path.join(d, "file%04d.txt" % i), "wb") as f:
        f.write(text(n) if i % 5 else rng.randbytes(n // 4) * 4)
PY
  (cd "$work/tiny" && zip -q -r -6 "$work/tiny.zip" .)
  (cd "$work/small" && zip -q -r -6 "$work/small.zip" .)
  touch "$work/.done"
fi

for name in tiny small; do
  for cli in "$old" "$new"; do
    rm -rf "$work/out" && "$cli" extract -q "$work/$name.zip" -d "$work/out"
    diff -r "$work/$name" "$work/out" >/dev/null || { echo "$cli: $name differs" >&2; exit 1; }
  done
done

results=$work/results.txt
: > "$results"
for name in ${ARCHIVES:-tiny small}; do
  for ((round = 0; round < runs; round++)); do
    a=$old b=$new
    if ((round % 2)); then a=$new b=$old; fi
    hyperfine -N --style none --runs 1 --prepare "rm -rf $work/out" \
      --export-json "$work/round.json" \
      "$a extract -q $work/$name.zip -d $work/out" \
      "$b extract -q $work/$name.zip -d $work/out" >/dev/null
    python3 - "$work/round.json" "$old" "$name" >>"$results" <<'PY'
import json, sys
data, old, name = json.load(open(sys.argv[1])), sys.argv[2], sys.argv[3]
for r in data["results"]:
    cpu = r["user"] + r["system"]  # one run: its own times
    print(name, "old" if r["command"].startswith(old + " ") else "new", r["times"][0], cpu)
PY
  done
done
python3 - "$results" <<'PY'
import statistics, sys
times, cpus = {}, {}
for line in open(sys.argv[1]):
    name, which, t, cpu = line.split()
    times.setdefault((name, which), []).append(float(t))
    cpus.setdefault((name, which), []).append(float(cpu))
for name in sorted({n for n, _ in times}):
    old, new = statistics.median(times[(name, "old")]), statistics.median(times[(name, "new")])
    cold, cnew = statistics.median(cpus[(name, "old")]), statistics.median(cpus[(name, "new")])
    print(f"{name:6s} wall old {old * 1000:8.1f} ms new {new * 1000:8.1f} ms new/old {new / old:.3f}"
          f" | cpu old {cold * 1000:8.1f} ms new {cnew * 1000:8.1f} ms new/old {cnew / cold:.3f}"
          f"   ({len(times[(name, 'old')])} rounds)")
PY
