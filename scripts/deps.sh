#!/usr/bin/env bash
# Installs with apt-get what building, running and testing need, when something is missing.
set -euo pipefail
packages=(build-essential cmake ninja-build clang libclang-rt-14-dev libssl-dev openssl
          libgtest-dev libgmock-dev libbenchmark-dev snmp snmptrapd nodejs iproute2 util-linux curl procps python3)
missing=()
# The tray program's desktop, and the virtual display, system tray, pointer and screenshots of its tests.
packages+=(pkg-config libgtk-3-dev xvfb xauth trayer xdotool imagemagick x11-utils fonts-dejavu-core)
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The package's own trap daemon is not wanted: the tests start theirs by hand.
if command -v systemctl >/dev/null 2>&1; then
  systemctl disable --now snmptrapd.socket snmptrapd.service >/dev/null 2>&1 || true
fi
