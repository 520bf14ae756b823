#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the release program and starts it from build/release/bin, so that
# its conf/, log/ and help/ directories lie in build/release. Arguments are
# passed to the program; without any it opens its window, or runs without
# windows when there is no display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "${VANTOR_JOBS:-2}" --target vantor-lite
cd build/release/bin
if [ $# -eq 0 ] && [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display; starting the monitor without windows (--headless)" >&2
  set -- --headless
fi
exec ./vantor-lite "$@"
