#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds parcelo-cli and runs it. With no arguments it does the main
# job on the sample archive shipped in samples/: extracts it into a new temporary folder and shows
# what came out. With arguments it passes them on: ./run.sh extract archive.zip -d out
set -euo pipefail
caller_dir=$PWD
cd "$(dirname "$0")"
repo_dir=$PWD
./scripts/setup.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target parcelo-cli >/dev/null
cli="$repo_dir/$build_dir/cli/parcelo-cli"
if [ $# -eq 0 ]; then
  dest=$(mktemp -d "${TMPDIR:-/tmp}/parcelo-sample-XXXXXX")
  echo "parcelo-cli extract samples/sample.zip -d $dest"
  "$cli" extract "$repo_dir/samples/sample.zip" -d "$dest"
  (cd "$dest" && find . -mindepth 1 | sort | while read -r f; do ls -ld --time-style=long-iso "$f"; done)
  exit 0
fi
cd "$caller_dir"  # paths given on the command line are the caller's
exec "$cli" "$@"
