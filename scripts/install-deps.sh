#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need,
# when they are missing. Runs apt-get as root, or through sudo.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libpugixml-dev libcurl4-openssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  # Servers that the interop tests start on 127.0.0.1 themselves.
  nginx tinyproxy dovecot-pop3d dovecot-imapd vsftpd python3-aiosmtpd
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
