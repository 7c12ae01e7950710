#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds Parcelo and runs it. With no arguments on a desktop
# (DISPLAY or WAYLAND_DISPLAY set) it starts the wizard with the sample archive of samples/ chosen;
# without a display it does the main job in the terminal: extracts the sample archive into a new
# temporary folder with parcelo-cli and shows what came out. With arguments it runs parcelo-cli
# with them: ./run.sh extract archive.zip -d out
set -euo pipefail
caller_dir=$PWD
cd "$(dirname "$0")"
repo_dir=$PWD
./scripts/setup.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target parcelo-cli >/dev/null
cli="$repo_dir/$build_dir/cli/parcelo-cli"
if [ $# -eq 0 ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  cmake --build "$build_dir" -j"$(nproc)" --target parcelo >/dev/null
  echo "parcelo samples/sample.zip"
  exec "$repo_dir/$build_dir/app/parcelo" "$repo_dir/samples/sample.zip"
fi
if [ $# -eq 0 ]; then
  dest=$(mktemp -d "${TMPDIR:-/tmp}/parcelo-sample-XXXXXX")
  echo "parcelo-cli extract samples/sample.zip -d $dest"
  "$cli" extract "$repo_dir/samples/sample.zip" -d "$dest"
  (cd "$dest" && find . -mindepth 1 | sort | while read -r f; do ls -ld --time-style=long-iso "$f"; done)
  echo
  echo "No display here, so this was parcelo-cli. On a desktop, ./run.sh starts the wizard"
  echo "(or run $build_dir/app/parcelo after: cmake --build $build_dir --target parcelo)."
  exit 0
fi
cd "$caller_dir"  # paths given on the command line are the caller's
exec "$cli" "$@"
