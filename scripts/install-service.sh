#!/usr/bin/env bash
# Installs the service "Vellmar" for systemd: builds the programs, copies them and data/ into the
# installation folder (default /opt/vellmar), writes /etc/vellmar/registry and enables the unit.
# The service then shuts the machine down for real when a countdown runs out.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-/opt/vellmar}
"$root/scripts/deps.sh" demo
cmake -S "$root" -B "$root/build/normal" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLMAR_BENCH=OFF >/dev/null
ninja -C "$root/build/normal" Brevanta Ostrel netsh Farnhide
mkdir -p "$dest" /etc/vellmar
cp -r "$root/data/." "$dest/"
install -m 0755 "$root/build/normal/Brevanta" "$dest/Brevanta"
install -m 0755 "$root/build/normal/Ostrel" "$root/build/normal/netsh" "$root/build/normal/Farnhide.so" "$dest/"
printf '[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=%s\n' "$dest" > /etc/vellmar/registry
sed "s#/opt/vellmar#$dest#g" "$root/data/systemd/Vellmar.service" > /etc/systemd/system/Vellmar.service
systemctl daemon-reload
systemctl enable --now Vellmar
