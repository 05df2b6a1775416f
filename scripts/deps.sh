#!/usr/bin/env bash
# Installs with apt-get what building, running and testing need, when something is missing.
set -euo pipefail
packages=(build-essential cmake ninja-build clang libclang-rt-14-dev libssl-dev openssl
          libgtest-dev libgmock-dev libbenchmark-dev snmp snmptrapd nodejs iproute2 util-linux curl procps python3)
missing=()
# The web tests' browser, and the web benchmark's peer and load generator.
packages+=(chromium nginx-light apache2-utils)
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
# npm comes with some builds of nodejs; Debian's comes apart (scripts/node_deps.sh needs it).
if ! command -v npm >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm >/dev/null
fi
# Neither the packages' trap daemon nor nginx (the benchmark's peer) should run as a service: the
# tests and the benchmark start theirs by hand.
if command -v systemctl >/dev/null 2>&1; then
  systemctl disable --now snmptrapd.socket snmptrapd.service nginx.service >/dev/null 2>&1 || true
fi
