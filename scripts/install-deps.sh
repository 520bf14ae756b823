#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages that building, running and testing need,
# when they are missing. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libqt6svg6 libpugixml-dev libsqlite3-dev libcurl4-openssl-dev
  # TLS for our own clients, and the system's trust store.
  libssl-dev ca-certificates
  # The metrics endpoint, its web configuration and the service manager's
  # readiness and watchdog.
  libmicrohttpd-dev libyaml-cpp-dev libcrypt-dev libsystemd-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # Servers that the interop tests start on 127.0.0.1 themselves.
  nginx tinyproxy dovecot-pop3d dovecot-imapd vsftpd python3-aiosmtpd
  # The Prometheus family that reads the metrics in the end-to-end tests.
  prometheus prometheus-blackbox-exporter prometheus-node-exporter
  prometheus-alertmanager
  # The syslog receiver of the end-to-end tests (run with a configuration of
  # their own; the system's daemon is not needed).
  rsyslog
  # GNU time: peak memory of the program in bench/scale.sh.
  time
  # wrk: the storm of scrapes in bench_metrics and bench_ui --scrape-storm.
  wrk
  # What scripts/test-install.sh checks the installed files with.
  desktop-file-utils appstream man-db
  # clang's libFuzzer for the SMPP fuzz target.
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# Node.js runs the SMS centre of the SMPP interop tests. A Node.js from
# outside Debian brings its own npm, which Debian's npm package would clash
# with: the commands decide, not the package names, and npm comes second.
if ! command -v node >/dev/null 2>&1; then
  missing+=(nodejs)
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
updated=no
apt_install() {
  echo "Installing: $*"
  if [ "$updated" = no ]; then
    "${sudo_cmd[@]}" apt-get update -qq
    updated=yes
  fi
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$@"
}

if [ ${#missing[@]} -gt 0 ]; then
  apt_install "${missing[@]}"
fi
if ! command -v npm >/dev/null 2>&1; then
  apt_install npm
fi

# The npm packages of that SMS centre, at the versions its package-lock.json
# pins: installed by npm ci when one is missing or at another version.
smsc_dir="$(cd "$(dirname "$0")/.." && pwd)/tests/smpp-interop/smsc"
if [ -f "$smsc_dir/package-lock.json" ] && ! node -e '
  const dir = process.argv[1];
  const lock = require(dir + "/package-lock.json");
  for (const [path, entry] of Object.entries(lock.packages || {})) {
    if (!path.startsWith("node_modules/")) continue;
    let installed;
    try {
      installed = require(dir + "/" + path + "/package.json").version;
    } catch (e) {
      process.exit(1);
    }
    if (installed !== entry.version) process.exit(1);
  }' "$smsc_dir"; then
  echo "Installing the npm packages of $smsc_dir"
  (cd "$smsc_dir" && npm ci --no-audit --no-fund)
fi
