#!/usr/bin/env bash
# ThreadSanitizer over the engine's extraction tests: builds them with clang and
# -fsanitize=thread in their own folder (no wizard) and runs them; any data race or lock-order
# problem stops the run with a report. The two-thread paths run wherever the machine has two
# processors, and the two-thread tests ask for them whatever it has (PARCELO_THREADS=2).
#   BUILD_DIR  build folder (default: build-tsan)
#   CC, CXX    compilers (default: clang-14, clang++-14)
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build-tsan}
targets=(arvThreads_test arvUnZipThreads_test arvUnZip_test arvUnZip_extras_test arvbase_test
         arvExtractJob_test)
CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S . -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARCELO_BUILD_GUI=OFF -DPARCELO_SANITIZE=thread \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target "${targets[@]}" parcelo-cli
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
status=0
for target in "${targets[@]}"; do
  echo "== $target"
  "$build_dir/tests/$target" --gtest_brief=1 || status=1
done
exit $status
