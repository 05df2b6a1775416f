#!/usr/bin/env bash
# Installs with apt-get what building, running and testing need, when something is missing.
set -euo pipefail
packages=(build-essential cmake ninja-build clang libclang-rt-14-dev libssl-dev openssl
          libgtest-dev libgmock-dev libbenchmark-dev snmp snmptrapd iproute2 util-linux curl procps python3
          chromium nodejs nginx-light apache2-utils)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# npm comes with some builds of nodejs; Debian's comes apart.
if ! command -v npm >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends npm >/dev/null
fi
# The browser tests drive Chromium through playwright-core, kept in the build tree.
root=$(cd "$(dirname "$0")/.." && pwd)
node_dir="$root/build/node"
if [ ! -f "$node_dir/node_modules/playwright-core/package.json" ]; then
  mkdir -p "$node_dir"
  [ -f "$node_dir/package.json" ] || echo '{"name":"vellmar-browser-tests","private":true}' > "$node_dir/package.json"
  npm install --prefix "$node_dir" --no-audit --no-fund playwright-core >/dev/null
fi
# Neither the packages' trap daemon nor nginx (the benchmark's peer) should run as a service: the
# tests and the benchmark start theirs by hand.
if command -v systemctl >/dev/null 2>&1; then
  systemctl disable --now snmptrapd.socket snmptrapd.service nginx.service >/dev/null 2>&1 || true
fi
