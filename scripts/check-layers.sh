#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a file of one layer includes a header of a layer above it, or
# of another layer on the same floor. The layers, lowest first (folders on
# one line stand on the same floor):
#
#   app
#   pool net registry history
#   smpp
#   alarm
#   engine
#   metrics
#   session
#   headless ui
#
# src/<layer>/ and the tests of a layer (tests/<layer>/) are checked; a
# layer's tests may include tests/support besides. src/main.cpp stands on
# top of all of them.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A floor=(
  [app]=0
  [pool]=1 [net]=1 [registry]=1 [history]=1
  [smpp]=2
  [alarm]=3
  [engine]=4
  [metrics]=5
  [session]=6
  [headless]=7 [ui]=7
)

faults=0
checked=0
for root in src tests; do
  for layer in "${!floor[@]}"; do
    dir="$root/$layer"
    [ -d "$dir" ] || continue
    while IFS= read -r -d '' file; do
      checked=$((checked + 1))
      # Every project include names its folder first: #include "engine/X.h".
      while IFS=: read -r line folder; do
        [ "$folder" = "$layer" ] && continue
        [ "$root" = tests ] && [ "$folder" = support ] && continue
        if [ -z "${floor[$folder]+set}" ]; then
          continue  # not a layer (a generated header, a test's own folder)
        fi
        if [ "${floor[$folder]}" -ge "${floor[$layer]}" ]; then
          echo "$file:$line: $layer includes $folder, which is not below it"
          faults=$((faults + 1))
        fi
      done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z]+/' "$file" |
               sed -E 's/^([0-9]+):[^"]*"([a-z]+)\/.*/\1:\2/')
    done < <(find "$dir" -type f \( -name '*.h' -o -name '*.cpp' \) -print0)
  done
done

if [ "$faults" -gt 0 ]; then
  echo "check-layers: $faults include(s) run against the layer order"
  exit 1
fi
echo "check-layers: $checked files, every include runs downward"
