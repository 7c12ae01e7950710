#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds parcelo-cli and runs it. With no arguments it shows its
# usage; with arguments it passes them on: ./run.sh extract archive.zip -d out
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target parcelo-cli >/dev/null
exec "$build_dir/cli/parcelo-cli" "$@"
