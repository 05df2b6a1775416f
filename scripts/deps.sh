#!/usr/bin/env bash
# Installs with apt-get the packages a command of this tree needs, those that are missing only:
#   deps.sh demo   building and running (scripts/demo.sh, scripts/install-service.sh)
#   deps.sh test   that, and what the tests add (scripts/test.sh)
# Nothing else on the machine changes: no service that this run did not install is stopped,
# disabled or masked. The daemons of packages installed here do not start while apt runs (a
# policy-rc.d of this run's own, made only when there is none), and the units of the trap daemon,
# the SNMP daemon and nginx, when this run installed them, are disabled so that at the next boot
# they leave ports 161, 162 and 80 to the service.
set -euo pipefail
what=${1:-test}
# Compiler, CMake, Ninja, OpenSSL, GTK for the tray program, GoogleTest (the build's tests/ folder
# is configured with it), the net-snmp command-line tools, curl and python3 of the demo, ss for
# the demo's port check, and the tray's font.
packages=(build-essential cmake ninja-build pkg-config libssl-dev openssl libgtk-3-dev libgtest-dev libgmock-dev
          snmp curl python3 iproute2 fonts-dejavu-core)
case "$what" in
  demo) ;;
  test)
    # The sanitizer build, the benchmarks' library, the real peers (sslscan among them) and the browser, the network
    # namespaces, the firewall, and the virtual display, system tray, pointer and screenshots of
    # the tray's tests.
    packages+=(clang libclang-rt-14-dev libbenchmark-dev snmptrapd snmpd nginx-light chromium nodejs util-linux procps
               nftables sslscan xvfb xauth trayer xdotool imagemagick x11-utils)
    # npm comes with some builds of nodejs; Debian's comes apart (scripts/node_deps.sh needs it).
    command -v npm >/dev/null 2>&1 || packages+=(npm)
    ;;
  *) echo "usage: $0 demo|test" >&2; exit 2 ;;
esac
# Packages whose daemons would take the service's ports.
daemons=(snmptrapd snmpd nginx-common)

installed() { dpkg-query -W -f='${Package} ${Status}\n' 2>/dev/null | awk '$NF == "installed" { print $1 }' | sort; }
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
((${#missing[@]})) || exit 0

policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  trap 'rm -f "$policy"' EXIT
  printf '#!/bin/sh\n# scripts/deps.sh: no daemon starts while it installs; removed when it ends.\nexit 101\n' > "$policy"
  chmod 0755 "$policy"
fi
before=$(installed)
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
new=$(comm -13 <(printf '%s\n' "$before") <(installed))

if command -v systemctl >/dev/null 2>&1; then
  for d in "${daemons[@]}"; do
    grep -qx -- "$d" <<<"$new" || continue
    for unit in $(dpkg -L "$d" | sed -n 's#^/\(usr/\)\{0,1\}lib/systemd/system/\([^/]*\.\(service\|socket\)\)$#\2#p'); do
      systemctl disable --now "$unit" >/dev/null 2>&1 || true
    done
  done
fi
