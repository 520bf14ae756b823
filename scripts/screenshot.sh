#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the program under Xvfb on a demo folder (20 services of every kind,
# checked against 127.0.0.1 only, failures alarmed by syslog to a closed
# local port) and saves a screenshot of the screen.
#   scripts/screenshot.sh OUT.png [seconds to wait, default 8] [xdotool command ...]
# Each further argument is one xdotool command line (for example
# "key alt+o s n" or "mousemove 300 200 click 1"), run in order, a second
# apart, before the screenshot. SCREENSHOT_SERVICES=N keeps the first N
# services of the demo. SCREENSHOT_HISTORY=1 gives them 30 days of history
# (written by bench_history) and opens the service history pane.
# SCREENSHOT_INI="[Section]\nKey=Value" is added to SysInit.ini.
# SCREENSHOT_SCREEN=WxH sets the screen and the window to that size
# (default: a 1280x1024 screen, a 1180x800 window).
# SCREENSHOT_FLAP=1 puts first a URL service whose page comes and goes
# each minute for its first five checks and then stays (alarmed by syslog):
# with a policy that detects flapping, it flaps and later is stable; and a
# second one whose page is missing for its first checks only.
set -euo pipefail
out=$(realpath -m "$1")
wait=${2:-8}
shift $(( $# < 2 ? $# : 2 ))
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/release/bin/vantor-lite"
demo=$(mktemp -d)
app=
flap=
trap 'kill $app "$xvfb" "$web" $flap 2>/dev/null; wait 2>/dev/null; rm -rf "$demo" || true' EXIT

mkdir -p -m 0700 "$demo/run"
mkdir -p "$demo/app/conf" "$demo/app/log" "$demo/app/help" "$demo/app/bin" "$demo/cfg/korvane" "$demo/www"
cp "$root/data/help/VantorLite.hlp" "$demo/app/help/"
cp "$root/data/bin/korvane.gif" "$demo/app/bin/"
printf '[Settings]\nAppPath=%s\n' "$demo/app" > "$demo/cfg/korvane/VantorLite.conf"
screen=${SCREENSHOT_SCREEN:-1280x1024}
window_width=1180
window_height=800
if [ -n "${SCREENSHOT_SCREEN:-}" ]; then
  window_width=${screen%x*}
  window_height=${screen#*x}
fi
cat > "$demo/app/conf/SysInit.ini" <<INI
[System]
InitStart=1
WindowWidth=$window_width
WindowHeight=$window_height
[SysLog Alarm]
Enable=1
IP=127.0.0.1
Port=5514
INI
if [ -n "${SCREENSHOT_INI:-}" ]; then
  printf '%b\n' "$SCREENSHOT_INI" >> "$demo/app/conf/SysInit.ini"
fi
echo ok > "$demo/www/index.html"
python3 -m http.server 18089 --bind 127.0.0.1 --directory "$demo/www" >/dev/null 2>&1 &
web=$!
if [ -n "${SCREENSHOT_FLAP:-}" ]; then
  echo ok > "$demo/www/flap.html"
  # Between the minute's checks: gone, back, gone, back, gone, then there.
  ( sleep $(( (90 - $(date +%-S)) % 60 + 60 ))
    echo ok > "$demo/www/back.html"
    for _ in 1 2 3 4 5; do
      if [ -e "$demo/www/flap.html" ]; then rm "$demo/www/flap.html"; else echo ok > "$demo/www/flap.html"; fi
      sleep 60
    done
    echo ok > "$demo/www/flap.html" ) &
  flap=$!
fi
python3 - "$demo/app/conf/service.xml" "${SCREENSHOT_SERVICES:-}" "${SCREENSHOT_FLAP:-}" <<'PY'
import sys
from xml.sax.saxutils import escape
rows = []
def add(kind, ip, port, alarm="n", by="Minutely", hour="00", minute="1"):
    rows.append((kind, ip, port, alarm, by, hour, minute))
if len(sys.argv) > 3 and sys.argv[3]:
    add("URL", "http://127.0.0.1:18089/flap.html", "80", alarm="y")
    add("URL", "http://127.0.0.1:18089/back.html", "80", alarm="y")
# The first five are of five kinds.
add("URL", "http://127.0.0.1:18089/index.html?site=0", "80")
add("Ping", "127.0.0.1", "0", by="Hourly", minute="00")
add("SMTP", "127.0.0.1", "2525", alarm="y")
add("POP3", "127.0.0.1", "1110", alarm="y")
add("FTP", "127.0.0.1", "2121", alarm="y")
for i in range(1, 4):
    add("URL", f"http://127.0.0.1:18089/index.html?site={i}", "80")
for i in range(1, 3):
    add("Ping", f"127.0.0.{i+1}", "0", by="Hourly", minute=f"{10*i:02d}")
add("SMTP", "127.0.0.2", "2526", by="Daily", hour="08", minute="30")
add("POP3", "127.0.0.3", "1111", by="Daily", hour="12", minute="00")
add("IMAP", "127.0.0.1", "1143", alarm="y")
add("IMAP", "127.0.0.4", "1144", by="Hourly", minute="45")
add("FTP", "127.0.0.5", "2122", by="Minutely", minute="5")
add("FTP", "127.0.0.6", "2123", alarm="y")
add("Database", "127.0.0.7", "1433", by="Daily", hour="02", minute="00")
add("Database", "127.0.0.8", "5432", by="Daily", hour="03", minute="00")
add("Ping", "127.0.0.9", "0", by="Minutely", minute="1")
add("URL", "http://127.0.0.1:18089/missing.html", "80", alarm="y")
rows = rows[:int(sys.argv[2])] if len(sys.argv) > 2 and sys.argv[2] else rows
out = ['<?xml version="1.0" encoding="UTF-8" standalone="no"?><!DOCTYPE service><serviceList>']
for kind, ip, port, alarm, by, hour, minute in rows:
    key = f"{kind}:{ip}:{port}"
    e = lambda n, v: f"<{n}>{escape(v)}</{n}>"
    rec = f'  <record key="{escape(key)}">' + e("service", kind) + e("ip", ip) + e("port", port)
    rec += e("username", "") + e("password", "") + e("schedule_by", by) + e("schedule_hour", hour)
    rec += e("schedule_minute", minute) + e("service_status", "Unknown") + e("status", "Start")
    rec += e("proxy_ip", "") + e("proxy_port", "0") + e("proxy_username", "") + e("proxy_password", "")
    rec += e("url_method", "Get") + e("ftp_proxytype", "")
    rec += e("alarm_email", "n") + e("alarm_smpp", "n") + e("alarm_httpsms", "n") + e("alarm_syslog", alarm)
    if kind == "URL":
        rec += "<service_url>" + e("referer", "") + e("cookie", "") + e("headerData", "") + e("userAgent", "VantorLite") + e("contentType", "") + e("accept", "*/*") + e("acceptCharSet", "") + e("acceptEncoding", "") + e("acceptLanguage", "") + "</service_url>"
    out.append(rec + "</record>")
out.append("</serviceList>")
open(sys.argv[1], "w").write("\n".join(out) + "\n")
open(sys.argv[1] + ".keys", "w").write(",".join(f"{r[0]}:{r[1]}:{r[2]}" for r in rows))
PY
keys=$(cat "$demo/app/conf/service.xml.keys")
rm "$demo/app/conf/service.xml.keys"
if [ -n "${SCREENSHOT_HISTORY:-}" ]; then
  sed -i 's/^WindowHeight=.*$/&\nShowDetailPane=1/' "$demo/app/conf/SysInit.ini"
  "$root/build/release/bin/bench_history" --keys "$keys" --days 30 --keep "$demo/app" >/dev/null 2>&1
fi

display=:97
Xvfb "$display" -screen 0 "${screen}x24" >/dev/null 2>&1 &
xvfb=$!
sleep 1
cd "$root/build/release/bin"
DISPLAY=$display XDG_CONFIG_HOME="$demo/cfg" XDG_RUNTIME_DIR="$demo/run" "$bin" >/dev/null 2>&1 &
app=$!
sleep "$wait"
for step in "$@"; do
  # shellcheck disable=SC2086
  DISPLAY=$display xdotool $step
  sleep 1
done
DISPLAY=$display import -window root "$out"
echo "saved $out"
