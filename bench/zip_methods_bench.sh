#!/usr/bin/env bash
# Times `parcelo-cli extract` against `7zz x` on the zips of today's writers, side by side in one
# hyperfine run per archive, each run extracting into a fresh folder under /dev/shm; then prints
# medians, the ratio to 7-Zip and both tools' peak memory. Archives: many files (/usr/share/doc
# and /usr/include) deflated inside AES-256 by 7-Zip, and one large member each of LZMA, XZ and
# BZip2 (7-Zip) and Zstandard (python3-zstandard, level 3; 7-Zip writes no Zstandard zips).
# Every tool's output is checked against the source files before anything is timed.
#   BUILD_DIR  build folder holding cli/parcelo-cli (default: build-bench, configured Release here)
#   BENCH_DIR  work folder (default: /dev/shm/parcelo-methods-bench; the corpora stay for reruns)
#   RUNS       rounds (default: 5)
#   LARGE_MIB  size of the large member (default: 64)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${BUILD_DIR:-build-bench}
work=${BENCH_DIR:-/dev/shm/parcelo-methods-bench}
runs=${RUNS:-5}
large_mib=${LARGE_MIB:-64}
python=python3
python3 -c 'import zstandard' 2>/dev/null || python=/usr/bin/python3

for tool in hyperfine 7zz /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "zip_methods_bench: $tool is not installed" >&2; exit 1; }
done
if [[ ! -x $build_dir/cli/parcelo-cli || -z ${BUILD_DIR:-} ]]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPARCELO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build_dir" --target parcelo-cli >/dev/null
fi
cli="$root/$build_dir/cli/parcelo-cli"
mkdir -p "$work"
corpus="$work/corpus"
archives="$work/archives"
out="$work/out"

# ---- corpora and archives -----------------------------------------------------------------------
if [[ ! -f $corpus/.done ]]; then
  rm -rf "$corpus" && mkdir -p "$corpus/many" "$corpus/large"
  cp -r /usr/share/doc "$corpus/many/doc"
  cp -r /usr/include "$corpus/many/include"
  find "$corpus/many" -type l -delete
  # The large member: headers, then program files, cut to size (text and binary both).
  find /usr/include /usr/bin -type f -print0 | sort -z | xargs -0 cat 2>/dev/null |
    head -c $((large_mib << 20)) >"$corpus/large/large.bin" || true
  touch "$corpus/.done"
fi
if [[ ! -f $archives/.done ]]; then
  rm -rf "$archives" && mkdir -p "$archives"
  (cd "$corpus/many" && 7zz a -tzip -mm=Deflate -mem=AES256 -pbench "$archives/many-aes256.zip" doc include >/dev/null)
  for m in LZMA XZ BZip2; do
    (cd "$corpus/large" && 7zz a -tzip -mm=$m "$archives/large-$m.zip" large.bin >/dev/null)
  done
  (cd "$corpus/large" && $python "$root/tests/data/zip/method_zip.py" "$archives/large-Zstd.zip" zstd:large.bin:large.bin)
  touch "$archives/.done"
fi

# ---- each tool's output is right before it is timed ---------------------------------------------
check() {  # check NAME SOURCE-FOLDER
  rm -rf "$out"
  "$cli" extract -q -p bench "$archives/$1" -d "$out/p" >/dev/null
  7zz x -y -pbench -o"$out/s" "$archives/$1" >/dev/null
  diff -r "$2" "$out/p" >/dev/null || { echo "zip_methods_bench: parcelo-cli's $1 differs" >&2; exit 1; }
  diff -r "$2" "$out/s" >/dev/null || { echo "zip_methods_bench: 7zz's $1 differs" >&2; exit 1; }
}
check many-aes256.zip "$corpus/many"
for m in LZMA XZ BZip2 Zstd; do check large-$m.zip "$corpus/large"; done

# ---- timing, side by side -----------------------------------------------------------------------
printf '%-18s %10s %10s %7s %12s %12s\n' archive parcelo 7zz ratio "parcelo KiB" "7zz KiB"
for name in many-aes256 large-LZMA large-XZ large-BZip2 large-Zstd; do
  a="$archives/$name.zip"
  hyperfine -N --runs "$runs" --warmup 1 --export-json "$work/$name.json" \
    --prepare "rm -rf $out" \
    -n parcelo "$cli extract -q -p bench $a -d $out/p" \
    -n 7zz "7zz x -y -pbench -o$out/s $a" >/dev/null
  rm -rf "$out"
  pm=$(/usr/bin/time -f %M "$cli" extract -q -p bench "$a" -d "$out/p" 2>&1 >/dev/null | tail -1)
  sm=$(/usr/bin/time -f %M 7zz x -y -pbench -o"$out/s" "$a" 2>&1 >/dev/null | tail -1)
  python3 - "$work/$name.json" "$name" "$pm" "$sm" <<'PY'
import json, sys
r = {x["command"]: x["median"] for x in json.load(open(sys.argv[1]))["results"]}
print("%-18s %9.3fs %9.3fs %7.2f %12s %12s" % (sys.argv[2], r["parcelo"], r["7zz"],
      r["parcelo"] / r["7zz"], sys.argv[3], sys.argv[4]))
PY
done
rm -rf "$out"
