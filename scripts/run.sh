#!/usr/bin/env bash
# Builds the release program and starts it from build/release/bin, so that
# its conf/, log/ and help/ directories lie in build/release. Arguments are
# passed to the program; without any it runs without windows.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "${VANTOR_JOBS:-2}" --target vantor-lite
cd build/release/bin
if [ $# -eq 0 ]; then
  set -- --headless
fi
exec ./vantor-lite "$@"
