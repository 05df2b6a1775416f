#!/usr/bin/env bash
# Builds the service, the tray program and the console, lays out a demo installation folder from
# data/ and runs Brevanta on it in the foreground. Power actions are simulated: they are written to power-actions.log in the folder.
# Ctrl-C stops the service.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
demo=${VELLMAR_DEMO_DIR:-$root/build/demo}
"$root/scripts/deps.sh" demo
# The benchmarks' library comes with the test command only.
cmake -S "$root" -B "$root/build/normal" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLMAR_BENCH=OFF >/dev/null
ninja -C "$root/build/normal" Brevanta Lumisk Ostrel netsh

mkdir -p "$demo"
cp -r "$root/data/." "$demo/"
cp "$root/build/normal/Brevanta" "$root/build/normal/Lumisk" "$root/build/normal/Ostrel" "$root/build/normal/netsh" "$demo/"
printf '[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=%s\n' "$demo" > "$demo/registry"
if [ ! -f "$demo/agent.ini" ]; then
  # Factory settings plus one trusted trap source on this machine and a short power-fail delay.
  (umask 077; printf '[Format]\r\nVersion=7\r\n[Shutdown]\r\nType=1\r\nPower Fail Delay=30\r\n[Source IP]\r\nNumber=1\r\nIP1=127.0.0.1\r\nCommunity1=public\r\n[End]\r\n' > "$demo/agent.ini")
fi
# It holds the coded passwords: readable by its owner only, like every agent.ini.
chmod 0600 "$demo/agent.ini"

export VELLMAR_REGISTRY="$demo/registry"
export VELLMAR_POWER_SIMULATE="$demo/power-actions.log"
cat <<INFO
Brevanta runs on the demo installation folder $demo
  settings file   $demo/agent.ini
  event log       $demo/_FILE_LOG.TXT
  power actions   $VELLMAR_POWER_SIMULATE (simulated; nothing is shut down)
  trap receiver   UDP 162 (IPv4 and IPv6), trusted source 127.0.0.1 with community "public"
  tray link       TCP 127.0.0.1:5515
  web interface   https://127.0.0.1/ (self-signed certificate; http://127.0.0.1/ leads there)
                  log in as admin with the password quillbox
Send a power-failure trap from another terminal:
  snmptrap -v 1 -c public -m '' 127.0.0.1 1.3.6.1.4.1.7342.2.4.20 127.0.0.1 6 3 ''
(6 4 is power restored, 0 0 a cold start) and watch the log:  tail -f $demo/_FILE_LOG.TXT
The failure is logged, the 30-second countdown is announced, and when it runs out the
shutdown action is logged and one "poweroff" line appears in power-actions.log.
The tray program: from a terminal of the desktop session,
  VELLMAR_REGISTRY=$demo/registry $demo/Lumisk
Press Ctrl-C to stop.
INFO
# A trap daemon of the machine on the trap port leaves the demo deaf to traps: say so, and who holds it.
trap_port=$(sed -n '/^\[Source IP\]/,/^\[/s/^Listen Port=\([0-9]*\).*/\1/p' "$demo/agent.ini" | head -n 1)
trap_port=${trap_port:-162}
holders=$(ss -Hulpn "sport = :$trap_port" 2>/dev/null || true)
if [ -n "$holders" ]; then
  names=$(grep -o '"[^"]*",pid=[0-9]*' <<<"$holders" | sed 's/^"\([^"]*\)",pid=\([0-9]*\)$/\1 (pid \2)/' | sort -u | paste -sd, - | sed 's/,/, /g' || true)
  echo "UDP port $trap_port, the demo's trap port, is taken by ${names:-a program that ss cannot name}:"
  echo "  the service cannot receive traps there until that program leaves the port."
fi
# Once the web server listens, log in with the factory account as a browser does.
(
  set +e +o pipefail
  for _ in $(seq 1 30); do
    sleep 1
    challenge=$(curl -sk https://127.0.0.1/login.asp | sed -n 's/.*id="challenge" value="\([^"]*\)".*/\1/p')
    [ -n "$challenge" ] && break
  done
  response=$(printf 'adminquillbox%s' "$challenge" | md5sum | cut -c1-32)
  if curl -sk -D - -o /dev/null --data "Username=admin&Response=$response" https://127.0.0.1/orvik/login \
      | grep -q '^Set-Cookie: Vellmar='; then
    echo "web interface: logged in as admin at https://127.0.0.1/"
  else
    echo "web interface: the login as admin failed (is port 443 taken?)"
  fi
) &
cd "$demo"
exec ./Brevanta
