#!/usr/bin/env bash
# Sets up a fresh Debian machine, configures, builds and runs the whole CTest suite.
#   BUILD_DIR   build folder (default: build)
#   BUILD_TYPE  CMake build type (default: RelWithDebInfo)
#   PARCELO_BUILD_GUI  ON (default) or OFF: the Qt wizard and its controls, with their packages
#   CMAKE_ARGS  further configure options, e.g. "-DPARCELO_WERROR=ON -DPARCELO_SANITIZE=address;undefined"
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh

build_dir=${BUILD_DIR:-build}
read -r -a extra <<<"${CMAKE_ARGS:-}"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" \
  -DPARCELO_BUILD_GUI="${PARCELO_BUILD_GUI:-ON}" "${extra[@]}"
cmake --build "$build_dir" -j"$(nproc)"
ctest --test-dir "$build_dir" --output-on-failure -j"$(nproc)"
