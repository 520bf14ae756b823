#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws data/bin/korvane.gif, the clip that the main window plays once in the
# panel right of its tool bar: the word "Vantor" fades in while a pulse line
# is drawn across from left to right. 120x40, white background, 30 frames.
# Needs ImageMagick's convert (installed with apt-get when missing) and the
# DejaVu fonts. Usage: scripts/make-animation.sh [OUTPUT]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-data/bin/korvane.gif}"

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
need=()
command -v convert >/dev/null 2>&1 || need+=(imagemagick)
# convert takes the font by its path, so no font configuration is needed.
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
[ -f "$font" ] || need+=(fonts-dejavu-core)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

width=120
height=40
frames=30
draw_frames=24 # the line is complete at this frame; the rest hold it
text_colour=36,65,95  # the dark blue of the icon's bezel family
line_colour='#139e93' # the icon's teal, darker for a white ground

# The pulse: a base line with two beats, as blank-separated x,y points.
points='2,32 20,32 23,29 26,32 29,32 32,22 36,38 39,28 42,32
  68,32 71,29 74,32 77,32 80,22 84,38 87,28 90,32 118,32'

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Points of the line up to x = tip, the last one cut where the tip falls.
partial_line() {
  local tip="$1"
  tr -s ' ' '\n' <<<"${points//$'\n'/ }" | awk -F, -v tip="$tip" '
    NR == 1 { px = $1; py = $2; printf "%s,%s", px, py; next }
    {
      if ($1 <= tip) { printf " %s,%s", $1, $2; px = $1; py = $2; next }
      if (px < tip) {
        y = py + ($2 - py) * (tip - px) / ($1 - px)
        printf " %.2f,%.2f", tip, y
      }
      exit
    }'
}

first_x=2
last_x=118
for ((i = 0; i < frames; i++)); do
  if ((i >= draw_frames - 1)); then
    tip=$last_x
  else
    tip=$(awk -v i="$i" -v n="$((draw_frames - 1))" -v a="$first_x" -v b="$last_x" \
      'BEGIN { printf "%.2f", a + (b - a) * i / n }')
  fi
  # The word fades in over the first eight frames.
  alpha=$(awk -v i="$i" 'BEGIN { a = (i + 1) / 8; if (a > 1) a = 1; printf "%.3f", a }')
  line="$(partial_line "$tip")"
  args=(-size "${width}x${height}" xc:white
    -font "$font" -pointsize 19 -fill "rgba($text_colour,$alpha)"
    -gravity north -annotate +0+0 'Vantor' -gravity northwest
    -fill none -stroke "$line_colour" -strokewidth 2.5
    -draw "stroke-linecap round stroke-linejoin round polyline $line")
  if ((i < draw_frames - 1)); then
    tip_y="${line##*,}"
    # A bright dot at the pen's tip while it draws.
    args+=(-stroke none -fill '#2ed3c6'
      -draw "circle $tip,$tip_y $(awk -v x="$tip" 'BEGIN { printf "%.2f", x + 2.2 }'),$tip_y")
  fi
  convert "${args[@]}" "$(printf '%s/f%03d.png' "$work" "$i")"
done

mkdir -p "$(dirname "$out")"
# -loop 1 leaves out the looping extension: without it a GIF plays once. The
# last frame stays on screen, so its delay only matters to viewers that loop.
frame_files=("$work"/f*.png)
last=$((${#frame_files[@]} - 1))
convert -delay 4 "${frame_files[@]:0:last}" -delay 200 "${frame_files[last]}" \
  +dither -colors 32 -layers OptimizeFrame -loop 1 "$out"
if grep -aq NETSCAPE2.0 "$out"; then
  echo "make-animation.sh: $out has a looping extension" >&2
  exit 1
fi
echo "$out: $(stat -c %s "$out") bytes, $(identify "$out" | wc -l) frames"
