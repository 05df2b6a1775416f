#!/usr/bin/env bash
# Installs the npm packages that the system tests drive, pinned, into build/node of the repository
# (never committed), when they are missing. Tests find them through NODE_PATH=build/node/node_modules.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build/node"
packages=(net-snmp@3.29.2 playwright-core@1.65.2)
missing=()
for p in "${packages[@]}"; do
  name=${p%@*}
  want=${p##*@}
  have=$(node -p "try { require('$dir/node_modules/$name/package.json').version } catch (e) { '' }" 2>/dev/null || true)
  [ "$have" = "$want" ] || missing+=("$p")
done
if ((${#missing[@]})); then
  mkdir -p "$dir"
  npm install --prefix "$dir" --no-audit --no-fund --loglevel=error "${missing[@]}" >/dev/null
fi
