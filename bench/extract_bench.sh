#!/usr/bin/env bash
# Times `parcelo-cli extract` against `unzip -qo`, `7z x -y` and `bsdtar -xf` on the same archives,
# each run extracting into a fresh folder under /dev/shm, side by side in one hyperfine run per
# archive; then prints medians, ratios to each rival and every tool's peak memory. Archives: many
# small deflated files, one large deflated file, a stored archive (also raced against `cp -r` of
# the same files), a Deflate64 archive (7-Zip) and a ZipCrypto archive. Every tool's output is
# checked against the source files before anything is timed.
#   BUILD_DIR  build folder holding cli/parcelo-cli (default: build-bench, configured Release here)
#   BENCH_DIR  work folder (default: /dev/shm/parcelo-extract-bench; the corpora stay for reruns)
#   RUNS       rounds, each running every command once (default: 10)
#   QUICK=1    a tenth of the data, for a smoke test of the script itself
#   BASELINE_CLI  another parcelo-cli (e.g. a build of an earlier commit) raced as "baseline"
# parcelo-cli runs twice: as it comes (every processor it may use) and as "parcelo-1t" with
# PARCELO_THREADS=1, its one-thread path.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${BUILD_DIR:-build-bench}
work=${BENCH_DIR:-/dev/shm/parcelo-extract-bench}
runs=${RUNS:-10}
scale=1
[[ ${QUICK:-0} == 1 ]] && scale=10

for tool in hyperfine zip unzip 7z bsdtar python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "extract_bench: $tool is not installed" >&2; exit 1; }
done
if [[ ! -x $build_dir/cli/parcelo-cli || -z ${BUILD_DIR:-} ]]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARCELO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build_dir" --target parcelo-cli >/dev/null
fi
cli="$root/$build_dir/cli/parcelo-cli"
mkdir -p "$work"
corpus="$work/corpus-$scale"
archives="$work/archives-$scale"
out="$work/out"

# ---- corpora: reproducible pseudo-text and structured binary data -------------------------------
if [[ ! -f $corpus/.done ]]; then
  rm -rf "$corpus" && mkdir -p "$corpus/small" "$corpus/large"
  python3 - "$corpus" "$scale" <<'PY'
import os, random, struct, sys
root, scale = sys.argv[1], int(sys.argv[2])
rng = random.Random(20240601)
syll = ["ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "pe", "da", "gu", "shi", "on", "er"]
vocab = ["".join(rng.choice(syll) for _ in range(rng.randint(1, 4))) for _ in range(6000)]
weights = [1.0 / (i + 1) for i in range(len(vocab))]  # Zipf-like word frequencies
# Two 8 MB pools that files are cut from: pseudo-text, and records like program data (counters,
# small numbers, padding and a little noise).
lines = []
size = 0
while size < 8_000_000:
    line = " ".join(rng.choices(vocab, weights, k=rng.randint(4, 14))) + "\n"
    lines.append(line)
    size += len(line)
text_pool = "".join(lines).encode()
noise = rng.randbytes(2_000_000)
binary_pool = b"".join(struct.pack("<IH6x", i, i * 7 & 0xFFFF) + noise[4 * (i % 500_000):4 * (i % 500_000) + 4]
                       for i in range(500_000))
def cut(pool, n):
    out = bytearray()
    while len(out) < n:
        start = rng.randrange(0, len(pool) - 1)
        out += pool[start:start + min(n - len(out), 1_000_000)]
    return bytes(out)
target = 300_000_000 // scale
count = 3000 // scale
for i in range(count):
    d = os.path.join(root, "small", "dir%02d" % (i % 40), "sub%d" % (i % 3))
    os.makedirs(d, exist_ok=True)
    n = min(max(1, int(rng.expovariate(1.0 / (target / count)))), 4 * target // count)
    binary = i % 5 == 0
    with open(os.path.join(d, "file%04d.%s" % (i, "bin" if binary else "txt")), "wb") as f:
        f.write(cut(binary_pool if binary else text_pool, n))
with open(os.path.join(root, "large", "big.dat"), "wb") as f:
    left = 100_000_000 // scale
    while left > 0:
        n = min(left, 4_000_000)
        f.write(cut(text_pool if (left // 4_000_000) % 4 else binary_pool, n))
        left -= n
PY
  touch "$corpus/.done"
fi

if [[ ! -f $archives/.done ]]; then
  rm -rf "$archives" && mkdir -p "$archives"
  (cd "$corpus/small" && zip -q -r -6 "$archives/small-deflate.zip" .)
  (cd "$corpus/large" && zip -q -6 "$archives/large-deflate.zip" big.dat)
  (cd "$corpus/small" && zip -q -r -0 "$archives/small-stored.zip" .)
  (cd "$corpus/large" && 7z a -tzip -mm=Deflate64 -mx=5 "$archives/large-deflate64.zip" big.dat >/dev/null)
  (cd "$corpus/small" && zip -q -r -6 -P bench "$archives/small-zipcrypto.zip" .)
  touch "$archives/.done"
fi

# The commands, each extracting $1 into $out (a fresh folder every run).
cmd_parcelo() { echo "$cli extract $1 -d $out -q -p bench"; }
cmd_parcelo-1t() { echo "env PARCELO_THREADS=1 $cli extract $1 -d $out -q -p bench"; }
cmd_baseline() { echo "$BASELINE_CLI extract $1 -d $out -q -p bench"; }
cmd_unzip() { echo "unzip -qo -P bench $1 -d $out"; }
cmd_7z() { echo "7z x -y -pbench -o$out $1"; }
cmd_bsdtar() { echo "bsdtar -xf $1 -C $out --passphrase bench"; }
tools=(parcelo parcelo-1t unzip 7z bsdtar)
[[ -n ${BASELINE_CLI:-} ]] && tools+=(baseline)

# ---- correctness first: every tool must reproduce the source files -------------------------------
# Sets `racing` to the tools that reproduce the archive; parcelo-cli must, the others are left out
# with a note when they cannot (bsdtar has no Deflate64).
check() {  # archive, source folder
  local tool
  racing=()
  for tool in "${tools[@]}"; do
    rm -rf "$out" && mkdir -p "$out"
    eval "$(cmd_$tool "$1")" >/dev/null 2>&1 || true
    if diff -r -q "$2" "$out" >/dev/null; then
      racing+=("$tool")
    elif [[ $tool == parcelo* || $tool == baseline ]]; then
      echo "extract_bench: parcelo-cli did not reproduce $(basename "$1")" >&2
      exit 1
    else
      echo "extract_bench: $tool cannot extract $(basename "$1"); left out of its race" >&2
    fi
  done
}

declare -A source=(
  [small-deflate]="$corpus/small" [large-deflate]="$corpus/large" [small-stored]="$corpus/small"
  [large-deflate64]="$corpus/large" [small-zipcrypto]="$corpus/small")
order=(small-deflate large-deflate small-stored large-deflate64 small-zipcrypto)

prepare="$work/prepare.sh"
printf '#!/bin/sh\nrm -rf "%s" && mkdir -p "%s"\n' "$out" "$out" > "$prepare"
chmod +x "$prepare"

results="$work/results-$scale"
rm -rf "$results" && mkdir -p "$results"
# Rounds: each runs every command once (one hyperfine call, the order rotated round by round), so
# that load from elsewhere on the machine falls on all tools alike rather than on whichever ran
# during a busy minute.
for name in "${order[@]}"; do
  archive="$archives/$name.zip"
  check "$archive" "${source[$name]}"
  names=("${racing[@]}")
  if [[ $name == small-stored ]]; then names+=("cp"); fi
  echo "== $name: $(du -m "$archive" | cut -f1) MB archive, $(du -sm "${source[$name]}" | cut -f1) MB of files; racing ${names[*]}"
  for ((round = 0; round < runs; round++)); do
    args=()
    for ((k = 0; k < ${#names[@]}; k++)); do
      tool=${names[$(((k + round) % ${#names[@]}))]}
      if [[ $tool == cp ]]; then
        args+=(--command-name "cp -r" "cp -r ${source[$name]}/. $out")
      else
        args+=(--command-name "$tool" "$(cmd_$tool "$archive")")
      fi
    done
    hyperfine -N --style none --runs 1 --prepare "$prepare" \
      --export-json "$results/$name.round$round.json" "${args[@]}" >/dev/null
  done
  # Peak memory (maximum resident set) of one run of each tool.
  for tool in "${racing[@]}"; do
    rm -rf "$out" && mkdir -p "$out"
    /usr/bin/time -f "%M" -o "$results/$name.$tool.rss" bash -c "$(cmd_$tool "$archive") >/dev/null 2>&1" || true
  done
done
rm -rf "$out"

# ---- summary -------------------------------------------------------------------------------------
python3 - "$results" "${order[@]}" <<'PY'
import json, os, statistics, sys
results, names = sys.argv[1], sys.argv[2:]
targets = {"small-deflate": ("bsdtar", 0.35), "large-deflate": ("bsdtar", 0.42),
           "small-stored": ("bsdtar", 0.50), "small-zipcrypto": ("bsdtar", 0.45),
           "large-deflate64": ("7z", 0.85)}
rivals = ("unzip", "7z", "bsdtar", "cp -r")
ours = ("parcelo-1t", "baseline")  # the one-thread path, and an earlier build when raced
def verdict(ratio, limit):
    return "%.2f (<= %.2f) %s" % (ratio, limit, "ok" if ratio <= limit else "MISSED")
for title, key in (("median wall-clock time", "median"), ("median processor time (user + system)", "cpu")):
    print()
    print("%s, seconds; ratios are parcelo-cli's time over the rival's" % title)
    print("%-16s %9s %9s %9s %9s %9s | %7s %7s %7s %7s | %s" % (
        "archive", "parcelo", *rivals, "/unzip", "/7z", "/bsdtar", "/cp", "target"))
    for name in names:
        samples = {}
        for f in sorted(os.listdir(results)):
            if f.startswith(name + ".round") and f.endswith(".json"):
                for r in json.load(open(os.path.join(results, f)))["results"]:
                    value = r["times"][0] if key == "median" else r["user"] + r["system"]
                    samples.setdefault(r["command"], []).append(value)
        t = {c: statistics.median(v) for c, v in samples.items()}
        p = t["parcelo"]
        cells = " ".join("%9.3f" % t[c] if c in t else "%9s" % "-" for c in ("parcelo",) + rivals)
        ratios = " ".join("%7.2f" % (p / t[c]) if c in t else "%7s" % "-" for c in rivals)
        rival, limit = targets[name]
        note = ("vs %s %s" % (rival, verdict(p / t[rival], limit))) if rival in t else rival + " not raced"
        if name == "small-stored" and "cp -r" in t:
            note += ", vs cp %s" % verdict(p / t["cp -r"], 1.2)
        print("%-16s %s | %s | %s" % (name, cells, ratios, note))
        for other in ours:
            if other in t:
                print("%-16s %s %9.3f s; parcelo / it %.2f, it / bsdtar %s" % (
                    "", other, t[other], p / t[other],
                    "%.2f" % (t[other] / t["bsdtar"]) if "bsdtar" in t else "-"))
        if "parcelo-1t" in t and "baseline" in t:
            print("%-16s parcelo-1t / baseline %.3f (one-thread path against the earlier build)" % (
                "", t["parcelo-1t"] / t["baseline"]))
print()
print("peak memory (maximum resident set, MiB)")
print("%-16s %9s %9s %9s %9s %9s" % ("archive", "parcelo", "1 thread", "unzip", "7z", "bsdtar"))
worst = 0.0
for name in names:
    row = []
    for tool in ("parcelo", "parcelo-1t", "unzip", "7z", "bsdtar"):
        try:
            kib = int(open(os.path.join(results, "%s.%s.rss" % (name, tool))).read().split()[-1])
            row.append("%9.1f" % (kib / 1024.0))
            if tool == "parcelo":
                worst = max(worst, kib / 1024.0)
        except (OSError, ValueError, IndexError):
            row.append("%9s" % "-")
    print("%-16s %s" % (name, " ".join(row)))
print("parcelo-cli peak memory %.1f MiB (target <= 16 MiB) %s" % (worst, "ok" if worst <= 16 else "MISSED"))
PY
