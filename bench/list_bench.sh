#!/usr/bin/env bash
# Times `parcelo-cli list` against `unzip -l`, `7z l` and `bsdtar -tf` on one zip of many members,
# side by side in one hyperfine run. It makes its own archive in a temporary folder and removes it.
#   BUILD_DIR  build folder holding cli/parcelo-cli (default: build)
#   ENTRIES    number of members (default: 10000)
#   RUNS       hyperfine runs per command (default: 30)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
entries=${ENTRIES:-10000}
runs=${RUNS:-30}
cli="$PWD/$build_dir/cli/parcelo-cli"
[[ -x $cli ]] || { echo "list_bench: $cli not built (cmake --build $build_dir --target parcelo-cli)" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "list_bench: hyperfine is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/parcelo-list-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
archive="$work/many.zip"

# Small deflated members in 50 folders, as a source tree or a photo library would have them.
if command -v python3 >/dev/null; then
  python3 - "$archive" "$entries" <<'PY'
import sys, zipfile
path, n = sys.argv[1], int(sys.argv[2])
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(n):
        z.writestr("dir%02d/sub/file%05d.txt" % (i % 50, i), ("content %d\n" % i) * 20)
PY
else
  mkdir -p "$work/src"
  for ((i = 0; i < entries; i++)); do
    d="$work/src/dir$((i % 50))/sub"; mkdir -p "$d"
    printf 'content %d\n' "$i" > "$d/file$i.txt"
  done
  (cd "$work/src" && zip -qr "$archive" .)
fi

# All tools must agree on the number of files before their speed means anything.
listed=$("$cli" list "$archive" | wc -l)
[[ $listed -eq $entries ]] || { echo "list_bench: parcelo-cli listed $listed of $entries" >&2; exit 1; }

commands=("$cli list $archive")
names=("parcelo-cli list")
for tool in "unzip -l" "7z l" "bsdtar -tf"; do
  if command -v "${tool%% *}" >/dev/null; then
    commands+=("$tool $archive")
    names+=("$tool")
  else
    echo "list_bench: ${tool%% *} not installed, left out" >&2
  fi
done
args=()
for i in "${!commands[@]}"; do args+=(--command-name "${names[$i]}" "${commands[$i]}"); done
echo "list_bench: $entries members, $(stat -c %s "$archive") bytes"
hyperfine -N --warmup 3 --runs "$runs" "${args[@]}"
