#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs a build into a temporary prefix and checks what a desktop and a
# user's session need of it: exactly the expected files, a valid desktop
# entry and AppStream file, a man page that renders without warnings, a
# systemd user unit that verifies, and a program that, run from the prefix
# with an empty home, makes its folder under XDG_DATA_HOME, finds its help
# and checks a service with --check-now.
#   scripts/test-install.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
work=$(mktemp -d)
web=
trap 'kill $web 2>/dev/null || true; rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

expected="bin/vantor-lite
lib/systemd/user/vantor-lite.service
share/applications/com.korvane.VantorLite.desktop
share/doc/vantor-lite/changelog.gz
share/doc/vantor-lite/copyright
share/icons/hicolor/scalable/apps/com.korvane.VantorLite.svg
share/icons/hicolor/scalable/status/com.korvane.VantorLite-tray-failing.svg
share/icons/hicolor/scalable/status/com.korvane.VantorLite-tray-ok.svg
share/icons/hicolor/scalable/status/com.korvane.VantorLite-tray-stopped.svg
share/man/man1/vantor-lite.1.gz
share/metainfo/com.korvane.VantorLite.metainfo.xml
share/vantor-lite/bin/korvane.gif
share/vantor-lite/help/VantorLite.hlp"
actual=$(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
  echo "installed files differ:"; diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi

desktop-file-validate "$prefix/share/applications/com.korvane.VantorLite.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/com.korvane.VantorLite.metainfo.xml" >/dev/null
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/vantor-lite.1.gz" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "man page warnings:"; echo "$warnings"; exit 1
fi
if command -v systemd-analyze >/dev/null 2>&1; then
  mkdir -m 0700 "$work/run"
  XDG_RUNTIME_DIR=$work/run systemd-analyze verify --user --man=no \
    "$prefix/lib/systemd/user/vantor-lite.service"
fi

# The installed program with an empty home: its folder is made under
# XDG_DATA_HOME, and the help comes from the prefix.
run() {
  env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/run" TZ=UTC \
    "$prefix/bin/vantor-lite" "$@"
}
mkdir -p "$work/home" "$work/www" "$work/run"
chmod 0700 "$work/run"
run --check-now >/dev/null
app=$work/home/.local/share/vantor-lite
test -f "$app/conf/service.xml" || { echo "no $app/conf/service.xml"; exit 1; }
if grep -rq ERR00003 "$app/log"; then
  echo "the installed program did not find its help"; exit 1
fi
echo ok > "$work/www/index.html"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/www" >/dev/null 2>&1 &
web=$!
url="http://127.0.0.1:$port/index.html"
cat > "$app/conf/service.xml" <<XML
<?xml version="1.0" encoding="UTF-8" standalone="no"?><!DOCTYPE service><serviceList>
<record key="URL:$url:80"><service>URL</service><ip>$url</ip><port>80</port><username></username><password></password><schedule_by>Daily</schedule_by><schedule_hour>03</schedule_hour><schedule_minute>07</schedule_minute><service_status>Unknown</service_status><status>Start</status><proxy_ip></proxy_ip><proxy_port>0</proxy_port><proxy_username></proxy_username><proxy_password></proxy_password><url_method>Get</url_method><ftp_proxytype></ftp_proxytype><alarm_email>n</alarm_email><alarm_smpp>n</alarm_smpp><alarm_httpsms>n</alarm_httpsms><alarm_syslog>n</alarm_syslog><service_url><referer></referer><cookie></cookie><headerData></headerData><userAgent>vantor</userAgent><contentType></contentType><accept>*/*</accept><acceptCharSet></acceptCharSet><acceptEncoding></acceptEncoding><acceptLanguage></acceptLanguage></service_url></record>
</serviceList>
XML
python3 - "$port" <<'PY'
import socket, sys, time
for _ in range(50):
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), 0.2).close()
        break
    except OSError:
        time.sleep(0.1)
PY
out=$(run --check-now)
case "$out" in
  *$'\t'Passed$'\t'*) ;;
  *) echo "--check-now from the prefix: $out"; exit 1 ;;
esac
echo "install: files, desktop entry, AppStream, man page, user unit and the installed program are fine"
