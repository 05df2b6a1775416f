#!/usr/bin/env bash
# The service's start on damaged, wrong or unusable settings files and installation folders: each
# start either refuses with one line and exit code 1, or runs on factory values for what it could
# not read, names the problem, and keeps the original bytes in agent.ini.damaged. Also the removal
# of the copies an interrupted save left behind, the mode of a replaced agent.ini, and saves that
# fail at run time (answered as failed, named once per kind until a save succeeds).
source "$(dirname "$0")/lib.sh"

ok() { echo "ok   $*"; }
name_of() { grep -a "^name$1=" "$VELLMAR_DIR/Language/English/event-common.ini" | cut -d= -f2- | tr -d '\r' | sed 's/%s.*//'; }

vellmar_install
DAMAGED_TEXT=$(name_of 18)
REPLACED_TEXT=$(name_of 17)
# A factory file, written by the service itself, is the source of the cut files.
vellmar_start
vellmar_stop
cp "$VELLMAR_DIR/agent.ini" "$VELLMAR_DIR/factory.ini"
FACTORY="$VELLMAR_DIR/factory.ini"
grep -q $'^\[End\]\r$' "$FACTORY" || fail "factory file incomplete"

# Offsets inside the [Web] section and inside a value ("HTTP Port=80" cut after its "8").
web_at=$(grep -abo $'\\[Web\\]' "$FACTORY" | head -1 | cut -d: -f1)
port_at=$(grep -abo 'HTTP Port=80' "$FACTORY" | head -1 | cut -d: -f1)
inside_web=$((web_at + 40))
inside_value=$((port_at + 11))

fresh_start() {
  rm -f "$VELLMAR_DIR/_FILE_LOG.TXT" "$VELLMAR_DIR/agent.ini.damaged"
  vellmar_start
}

# ---- Damaged files: the service runs on factory values and keeps the bytes ----
damaged_row() {
  local what=$1
  cp "$VELLMAR_DIR/case.ini" "$VELLMAR_DIR/agent.ini"
  fresh_start
  wait_for "$what: start-up save" 10 grep -q $'^\[End\]\r$' "$VELLMAR_DIR/agent.ini"
  cmp -s "$VELLMAR_DIR/case.ini" "$VELLMAR_DIR/agent.ini.damaged" || fail "$what: original bytes not kept"
  [ "$(stat -c %a "$VELLMAR_DIR/agent.ini.damaged")" = 600 ] || fail "$what: agent.ini.damaged not 0600"
  log_has "$DAMAGED_TEXT" || fail "$what: no damaged-file event"
  log_has "kept as agent.ini.damaged, factory values used" || fail "$what: damaged-file event cut"
  grep -q "is damaged" "$VELLMAR_DIR/brevanta.out" || fail "$what: nothing on stderr"
  grep -q $'^Version=8\r$' "$VELLMAR_DIR/agent.ini" || fail "$what: no version line written"
  # What the file did not hold whole is at its factory value, never 0.
  grep -q $'^Power Fail Delay=300\r$' "$VELLMAR_DIR/agent.ini" || fail "$what: delay not factory"
  grep -q $'^Listen Port=162\r$' "$VELLMAR_DIR/agent.ini" || fail "$what: trap port not factory"
  grep -q $'^Community1=fenwix\r$' "$VELLMAR_DIR/agent.ini" || fail "$what: factory manager gone"
  log_has "IPv4-Trap: OK" || fail "$what: trap listener not open"
  vellmar_stop
  ok "$what"
}

: > "$VELLMAR_DIR/case.ini"
damaged_row "empty file"
for cut in 5 17 60 200 "$inside_web" "$inside_value"; do
  head -c "$cut" "$FACTORY" > "$VELLMAR_DIR/case.ini"
  damaged_row "cut at $cut bytes"
done
# Cut at 1200 bytes: the sections read before the cut stay, the rest is factory.
head -c 1200 "$FACTORY" | sed 's/^HTTP Port=80\r$/HTTP Port=8088\r/' > "$VELLMAR_DIR/case.ini"
damaged_row "cut at 1200 bytes"
grep -q $'^HTTP Port=8088\r$' "$VELLMAR_DIR/agent.ini" || fail "a key read before the cut was not kept"
head -c 4000 /dev/urandom | tr -d '\n' > "$VELLMAR_DIR/case.ini"
damaged_row "random bytes"
printf '[Format]\r\n' > "$VELLMAR_DIR/case.ini"
damaged_row "only [Format]"
# A stray [End] in the middle: what follows it is not lost without a copy.
sed 's/^\[Source IP\]\r$/[End]\r\n[Source IP]\r/' "$FACTORY" > "$VELLMAR_DIR/case.ini"
damaged_row "a stray [End] before [Source IP]"
grep -q "it has text after \[End\]" "$VELLMAR_DIR/brevanta.out" || fail "text after [End] not named"
cat "$FACTORY" > "$VELLMAR_DIR/case.ini"
printf 'HTTP Port=8088\r\n' >> "$VELLMAR_DIR/case.ini"
damaged_row "a line after [End]"
printf '[Web]\r\nHTTPS Port=4443\r\n[End]\r\n' > "$VELLMAR_DIR/case.ini"
damaged_row "no Version= line"
grep -q $'^HTTPS Port=4443\r$' "$VELLMAR_DIR/agent.ini" || fail "the readable key of a file without Version= was lost"
grep -q "web accounts" "$VELLMAR_DIR/brevanta.out" || fail "factory accounts not named"

# ---- Refused starts: one line on stderr, exit code 1, nothing written ----
refused_row() {
  local what=$1 pattern=$2 code=0
  (cd "$VELLMAR_DIR" && exec timeout 10 ./Brevanta) > "$VELLMAR_DIR/refused.out" 2>&1 || code=$?
  [ "$code" = 1 ] || fail "$what: exit code $code, expected 1"
  grep -q -- "$pattern" "$VELLMAR_DIR/refused.out" || fail "$what: stderr was '$(cat "$VELLMAR_DIR/refused.out")'"
  ok "$what"
}
mv "$VELLMAR_DIR/agent.ini" "$VELLMAR_DIR/saved.ini"
mkdir "$VELLMAR_DIR/agent.ini"
refused_row "agent.ini is a folder" "agent.ini cannot be read (it is a folder)"
[ -d "$VELLMAR_DIR/agent.ini" ] && [ -z "$(ls -A "$VELLMAR_DIR/agent.ini")" ] || fail "the folder was changed"
rmdir "$VELLMAR_DIR/agent.ini"
ln -s agent.ini "$VELLMAR_DIR/agent.ini"   # a link to itself: opening it fails
refused_row "agent.ini cannot be opened" "agent.ini cannot be read"
rm "$VELLMAR_DIR/agent.ini"
# Files that are no files: refused at once (a FIFO without a writer, a device without an end).
mkfifo "$VELLMAR_DIR/agent.ini"
refused_row "agent.ini is a FIFO" "agent.ini cannot be read (it is not a regular file)"
rm "$VELLMAR_DIR/agent.ini"
ln -s /dev/zero "$VELLMAR_DIR/agent.ini"
refused_row "agent.ini links to /dev/zero" "agent.ini cannot be read (it is not a regular file)"
rm "$VELLMAR_DIR/agent.ini"
mv "$VELLMAR_DIR/saved.ini" "$VELLMAR_DIR/agent.ini"
mv "$VELLMAR_DIR/registry" "$VELLMAR_DIR/registry.saved"
mkfifo "$VELLMAR_DIR/registry"
refused_row "the registry file is a FIFO" "registry cannot be used (it is not a regular file): not started"
rm "$VELLMAR_DIR/registry"
ln -s /dev/zero "$VELLMAR_DIR/registry"
refused_row "the registry file links to /dev/zero" "registry cannot be used (it is not a regular file): not started"
rm "$VELLMAR_DIR/registry"
mv "$VELLMAR_DIR/registry.saved" "$VELLMAR_DIR/registry"

printf '[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=%s\n' "$VELLMAR_DIR/nowhere" > "$VELLMAR_DIR/registry"
refused_row "registry path does not exist" "nowhere named in the registry"
printf '[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=%s\n' "$VELLMAR_DIR/agent.ini" > "$VELLMAR_DIR/registry"
refused_row "registry path is a file" "is not a folder"
# A relative folder would name every file from wherever the service runs.
mkdir -p "$VELLMAR_DIR/rel"
printf '[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=rel\n' > "$VELLMAR_DIR/registry"
refused_row "registry path is relative" "the installation folder rel named in the registry .* is not an absolute path"
[ -z "$(ls -A "$VELLMAR_DIR/rel")" ] || fail "a relative folder was written into"

# No registry entry: the current folder, said on stderr.
printf '[Other]\nPath=/x\n' > "$VELLMAR_DIR/registry"
fresh_start
grep -q "no installation folder in the registry .*: using the current folder $VELLMAR_DIR" "$VELLMAR_DIR/brevanta.out" ||
  fail "folder without registry entry not named: $(cat "$VELLMAR_DIR/brevanta.out")"
vellmar_stop
ok "no registry entry"
printf '[Software\\Orvik Electronics, Inc.\\Vellmar\\1\\Main]\nPath=%s\n' "$VELLMAR_DIR" > "$VELLMAR_DIR/registry"

# ---- Wrong values of a version-8 file: clamped or factory, each named ----
sed -e 's/^HTTP Port=80\r$/HTTP Port=99999\r/' -e 's/^Power Fail Delay=300\r$/Power Fail Delay=-5\r/' \
    -e 's/^Battery Low Delay=30\r$/Battery Low Delay=abc\r/' -e 's/^Language=0\r$/Language=-7\r/' \
    -e '/^Listen Port=162\r$/d' "$FACTORY" > "$VELLMAR_DIR/agent.ini"
fresh_start
wait_for "values saved" 10 grep -q $'^HTTP Port=65535\r$' "$VELLMAR_DIR/agent.ini"
for expect in "HTTP Port=65535" "Power Fail Delay=0" "Battery Low Delay=30" "Language=0" "Listen Port=162"; do
  grep -q "^$expect"$'\r$' "$VELLMAR_DIR/agent.ini" || fail "expected $expect"
done
# The file as it was is kept before its values are replaced in it.
grep -q $'^HTTP Port=99999\r$' "$VELLMAR_DIR/agent.ini.damaged" || fail "the file with replaced values was not kept"
grep -q "the file as it was is kept as agent.ini.damaged" "$VELLMAR_DIR/brevanta.out" || fail "the kept copy is not named"
for key in "HTTP Port" "Power Fail Delay" "Battery Low Delay" "Language" "Listen Port"; do
  [ "$(grep -c "$REPLACED_TEXT.*$key" "$VELLMAR_DIR/_FILE_LOG.TXT")" = 1 ] || fail "$key not named once in the log"
  grep -q "key .*$key" "$VELLMAR_DIR/brevanta.out" || fail "$key not named on stderr"
done
log_has "IPv4-Trap: OK" || fail "trap listener not open on the factory port"
vellmar_stop
ok "out-of-range, non-numeric and missing values"

# A whole file loads and saves byte for byte.
cp "$FACTORY" "$VELLMAR_DIR/agent.ini"
fresh_start
vellmar_stop
cmp -s "$FACTORY" "$VELLMAR_DIR/agent.ini" || fail "a whole file changed on a start"
! log_has "$REPLACED_TEXT" || fail "a whole file had keys replaced"
ok "whole file unchanged"

# ---- Copies of an interrupted save are removed; other names stay; the mode closes to others ----
mkdir -p "$VELLMAR_DIR/httpd/htdocs/tmp"
for f in agent.ini.a1B2c3 snmp_engine_boots.txt.Zz9Yy8 snmp_trap_engines.txt.Ab12Cd Vellmar.url.QWERTY agent.ini.tmp \
         agent.ini.a1B2c3d notes.txt.ABCDEF httpd/htdocs/tmp/agent_tmp.ini; do
  echo copy > "$VELLMAR_DIR/$f"
done
chmod 0666 "$VELLMAR_DIR/agent.ini"
fresh_start
vellmar_stop
for f in agent.ini.a1B2c3 snmp_engine_boots.txt.Zz9Yy8 snmp_trap_engines.txt.Ab12Cd Vellmar.url.QWERTY \
         httpd/htdocs/tmp/agent_tmp.ini; do
  [ ! -e "$VELLMAR_DIR/$f" ] || fail "$f was left behind"
done
for f in agent.ini.tmp agent.ini.a1B2c3d notes.txt.ABCDEF; do
  [ -e "$VELLMAR_DIR/$f" ] || fail "$f was removed"
done
[ "$(stat -c %a "$VELLMAR_DIR/agent.ini")" = 660 ] || fail "saved agent.ini is $(stat -c %a "$VELLMAR_DIR/agent.ini"), expected 660"
ok "temporary copies and mode"

# ---- A save that fails at run time: answered as failed, named once until a save succeeds ----
use_net_snmp
SAVE_FAILED_TEXT=$(name_of 20)
E=1.3.6.1.4.1.7342.2.200
V3=(-v3 -u manager -l authPriv -a MD5 -A mq472816 -x DES -X hv305749 -n rt5830 -m '' -On -t 2 -r 0)
printf '%s' "$FACTORY_MANAGER_INI" | sed 's/$/\r/' > "$VELLMAR_DIR/agent.ini"
fresh_start
wait_for "agent open" 15 log_has "IPv4-SNMP: OK"
rm "$VELLMAR_DIR/agent.ini"
mkdir "$VELLMAR_DIR/agent.ini"   # the save's rename cannot replace a folder
for delay in 41 42; do
  out=$(snmpset "${V3[@]}" 127.0.0.1 $E.2.3.0 i $delay 2>&1 || true)
  grep -q "commitFailed" <<<"$out" || fail "SET with agent.ini unwritable answered: $out"
done
[ "$(log_count "$SAVE_FAILED_TEXT")" = 1 ] || fail "the failed save was not named once"
rmdir "$VELLMAR_DIR/agent.ini"
out=$(snmpset "${V3[@]}" 127.0.0.1 $E.2.3.0 i 43 2>&1 || true)
grep -q "INTEGER: 43$" <<<"$out" || fail "SET after the folder went answered: $out"
grep -q $'^Power Fail Delay=43\r$' "$VELLMAR_DIR/agent.ini" || fail "not saved once the file could be written"
rm "$VELLMAR_DIR/agent.ini"
mkdir "$VELLMAR_DIR/agent.ini"
snmpset "${V3[@]}" 127.0.0.1 $E.2.3.0 i 44 > /dev/null 2>&1 || true
[ "$(log_count "$SAVE_FAILED_TEXT")" = 2 ] || fail "a new failure after a good save was not named"
out=$(snmpget "${V3[@]}" 127.0.0.1 $E.2.3.0 2>&1 || true)
grep -q "INTEGER: 43$" <<<"$out" || fail "get after the failed SET: $out"
vellmar_stop
rmdir "$VELLMAR_DIR/agent.ini"
ok "failed saves at run time"

# ---- The problems are in the unit's status (systemd's STATUS=) ----
sock="$VELLMAR_DIR/notify.sock"
notify_listen "$sock" "$VELLMAR_DIR/notify.out" 30
listener=$NOTIFY_READER
wait_for "notify socket" 20 test -S "$sock"
printf '[Web]\r\nHTTPS Port=4443\r\n' > "$VELLMAR_DIR/agent.ini"
printf '[Other]\nPath=/x\n' > "$VELLMAR_DIR/registry"
NOTIFY_SOCKET="$sock" fresh_start
vellmar_stop
wait "$listener" || true
# The last status before the stop lists both.
status=$(grep -v '^STOPPING=1' "$VELLMAR_DIR/notify.out" | tail -n 1)
grep -q "STATUS=.*no installation folder in the registry" <<<"$status" || fail "registry problem not in the status: $status"
grep -q "STATUS=.*agent.ini is damaged" <<<"$status" || fail "damaged file not in the status: $status"
ok "problems in the status"
