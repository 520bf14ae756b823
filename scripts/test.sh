#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds everything and runs every test tier: the release build (unit,
# process, interop and end-to-end tests), all of them again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the threaded tests
# (pool, SMPP relay, the checks side by side) under ThreadSanitizer, and the
# fuzz targets.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# Every include runs down the layer order.
scripts/check-layers.sh
# Our own sources are formatted as .clang-format says.
git ls-files '*.cpp' '*.h' | grep -v node_modules | xargs clang-format --dry-run -Werror

jobs=${VANTOR_JOBS:-2}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

for preset in release asan tsan; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
  if [ "$preset" = release ]; then
    echo "=== install ==="
    scripts/test-install.sh build/release
  fi
done
# The fuzz targets (clang, libFuzzer): every seed once, then a short run each.
echo "=== fuzz ==="
CC=clang CXX=clang++ cmake -S fuzz -B build/fuzz -G Ninja >/dev/null
cmake --build build/fuzz -j "$jobs"
ctest --test-dir build/fuzz --output-on-failure

echo "All test tiers passed."
