#!/usr/bin/env bash
# Times `parcelo-cli list` on a TAR, a gzip-compressed TAR, an LHA, a RAR 4 and a RAR 5 archive of
# many members against the fastest peers that list each (`bsdtar -tf`, `tar -tf`, `lhasa l`,
# `lha l`, `lsar`, `unrar-free l`), side by side in one hyperfine run per archive. It makes its
# own archives in a temporary folder and removes them: TAR and LHA with GNU tar and lha, RAR with
# bench/make_rar.py (no RAR writer is free), stored members with every CRC filled in so
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

python3 bench/make_rar.py "$work/src" "$work/many4.rar" "$work/many5.rar"

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
