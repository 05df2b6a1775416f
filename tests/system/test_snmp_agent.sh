#!/usr/bin/env bash
# SNMP agent on port 161 against net-snmp's snmpget, snmpgetnext, snmpwalk and snmpset and the npm
# package net-snmp: SNMPv1 with the factory community and a managers list (any address, one
# address, read only, an unlisted community, IPv6); SNMPv3 authPriv MD5/DES as the user manager with
# the factory pass phrases, written into the test's agent.ini (discovery, get, a walk of the whole
# MIB in order, a set that lands in agent.ini), wrong pass
# phrases, an unknown user, a wrong context; engine boots rising across a restart.
source "$(dirname "$0")/lib.sh"

use_net_snmp
NODE_MODULES="$VELLMAR_SOURCE_DIR/build/node/node_modules"
[ -d "$NODE_MODULES/net-snmp" ] || fail "npm net-snmp missing: run scripts/node_deps.sh"

vellmar_install "$FACTORY_MANAGER_INI"
vellmar_start
wait_for "agent open" 15 log_has "IPv4-SNMP: OK IPv6-SNMP: OK"

E=1.3.6.1.4.1.7342.2.200
SNMP=(-m '' -On -t 1 -r 1)
V3=(-v3 -u manager -l authPriv -a MD5 -A mq472816 -x DES -X hv305749 -n rt5830)
ok() { echo "ok   $*"; }
# expect_out DESCRIPTION PATTERN COMMAND...: the command's output (both streams) matches.
expect_out() {
  local what=$1 pattern=$2 out
  shift 2
  out=$("$@" 2>&1 || true)
  echo "$out" | grep -Eq -- "$pattern" || fail "$what: got '$out'"
  ok "$what"
}

# ---- SNMPv1, factory settings: community fenwix from any address, read only ----
expect_out "v1 get sysDescr" "^\.1\.3\.6\.1\.2\.1\.1\.1\.0 = STRING: \"Vellmar\"$" \
  snmpget -v1 -c fenwix "${SNMP[@]}" 127.0.0.1 1.3.6.1.2.1.1.1.0
expect_out "v1 getnext after E.2.9.0" "^\.$E\.2\.10\.0 = INTEGER: 1$" \
  snmpgetnext -v1 -c fenwix "${SNMP[@]}" 127.0.0.1 $E.2.9.0
expect_out "v1 set refused as read only" "genError" \
  snmpset -v1 -c fenwix "${SNMP[@]}" 127.0.0.1 $E.2.3.0 i 45
grep -q "Power Fail Delay=300" "$VELLMAR_DIR/agent.ini" || fail "a read-only set changed agent.ini"
expect_out "v1 OS description" "^\.$E\.1\.1\.0 = STRING: \".*\(kernel .*\)" \
  snmpget -v1 -c fenwix "${SNMP[@]}" 127.0.0.1 $E.1.1.0
expect_out "v1 memory load" "^\.$E\.4\.2\.0 = INTEGER: [1-9][0-9]*$" \
  snmpget -v1 -c fenwix "${SNMP[@]}" 127.0.0.1 $E.4.2.0
expect_out "v1 unlisted community gets no answer" "^Timeout" \
  snmpget -v1 -c public "${SNMP[@]}" 127.0.0.1 1.3.6.1.2.1.1.1.0
expect_out "v2c is not answered" "^Timeout" \
  snmpget -v2c -c fenwix "${SNMP[@]}" 127.0.0.1 1.3.6.1.2.1.1.1.0

# ---- SNMPv3 authPriv as the factory user ----
expect_out "v3 get" "^\.1\.3\.6\.1\.2\.1\.1\.1\.0 = STRING: \"Vellmar\"$" \
  snmpget "${V3[@]}" "${SNMP[@]}" 127.0.0.1 1.3.6.1.2.1.1.1.0
WALK=$(snmpwalk "${V3[@]}" "${SNMP[@]}" 127.0.0.1 .1.3.6.1 2>&1 | grep -v "No more variables") || fail "v3 walk failed: $WALK"
NAMES=$(echo "$WALK" | grep -c ' = ' || true)
[ "$NAMES" = 35 ] || fail "v3 walk listed $NAMES variables: $WALK"
EXPECTED=""
for i in 1 2 3 4 5 6 7; do EXPECTED+=".1.3.6.1.2.1.1.$i.0 "; done
for i in 1 2 3 4 5 6; do EXPECTED+=".$E.1.$i.0 "; done
for i in 1 2 3 4 5 6 7 8 9 10 11; do EXPECTED+=".$E.2.$i.0 "; done
EXPECTED+=".$E.3.1.0 "
for i in 1 2 3 4 5 6 7 8; do EXPECTED+=".$E.4.1.1.2.$i "; done
EXPECTED+=".$E.4.2.0 .$E.4.3.0 "
[ "$(echo "$WALK" | awk '{printf "%s ", $1}')" = "$EXPECTED" ] || fail "v3 walk order: $WALK"
ok "v3 walk lists the 35 variables in order"
expect_out "v3 set of the power-fail delay" "^\.$E\.2\.3\.0 = INTEGER: 77$" \
  snmpset "${V3[@]}" "${SNMP[@]}" 127.0.0.1 $E.2.3.0 i 77
grep -q "Power Fail Delay=77" "$VELLMAR_DIR/agent.ini" || fail "the set is not in agent.ini"
ok "v3 set saved in agent.ini"
expect_out "v3 wrong auth pass phrase: wrongDigests" "Authentication failure" \
  snmpget -v3 -u manager -l authPriv -a MD5 -A wrongpass1 -x DES -X hv305749 -n rt5830 "${SNMP[@]}" \
  127.0.0.1 1.3.6.1.2.1.1.1.0
expect_out "v3 wrong privacy pass phrase: no valid answer" "(Decryption error|^Timeout)" \
  snmpget -v3 -u manager -l authPriv -a MD5 -A mq472816 -x DES -X wrongpriv1 -n rt5830 "${SNMP[@]}" \
  127.0.0.1 1.3.6.1.2.1.1.1.0
expect_out "v3 unknown user" "Unknown user name" \
  snmpget -v3 -u stranger -l authPriv -a MD5 -A mq472816 -x DES -X hv305749 -n rt5830 "${SNMP[@]}" \
  127.0.0.1 1.3.6.1.2.1.1.1.0
expect_out "v3 no authentication for an authPriv user" "Unsupported security level" \
  snmpget -v3 -u manager -l noAuthNoPriv -n rt5830 "${SNMP[@]}" 127.0.0.1 1.3.6.1.2.1.1.1.0
expect_out "v3 wrong context is sent back unprocessed" "(got GET-PDU|^Timeout)" \
  snmpget -v3 -u manager -l authPriv -a MD5 -A mq472816 -x DES -X hv305749 -n other "${SNMP[@]}" \
  127.0.0.1 1.3.6.1.2.1.1.1.0
expect_out "v3 over IPv6" "STRING: \"Vellmar\"" \
  snmpget "${V3[@]}" "${SNMP[@]}" udp6:[::1]:161 1.3.6.1.2.1.1.1.0

# ---- The npm net-snmp client ----
node_client() { NODE_PATH="$NODE_MODULES" node --openssl-legacy-provider "$(dirname "$0")/snmp_v3_client.js" "$@"; }
expect_out "npm net-snmp v3 get" "^1\.3\.6\.1\.2\.1\.1\.1\.0 = Vellmar$" \
  node_client 127.0.0.1 manager mq472816 hv305749 rt5830 get 1.3.6.1.2.1.1.1.0
expect_out "npm net-snmp v3 set" "^$E\.2\.5\.0 = 44$" \
  node_client 127.0.0.1 manager mq472816 hv305749 rt5830 set $E.2.5.0 44
grep -q "Battery Low Delay=44" "$VELLMAR_DIR/agent.ini" || fail "the npm client's set is not in agent.ini"
expect_out "npm net-snmp wrong auth pass phrase" "Wrong Digest" \
  node_client 127.0.0.1 manager wrongpass1 hv305749 rt5830 get 1.3.6.1.2.1.1.1.0

BOOTS=$(tr -d '\r\n' < "$VELLMAR_DIR/snmp_engine_boots.txt")
vellmar_stop

# ---- A managers list; boots rise across the restart ----
awk 'BEGIN { skip = 0 }
     /^\[SNMP Server\]/ { print; print "Listen Port=161\r"; print "Number=4\r";
       print "IP1=127.0.0.1\r"; print "Community1=rwcomm\r"; print "Permission1=2\r";
       print "IP2=0.0.0.0\r"; print "Community2=fenwix\r"; print "Permission2=1\r";
       print "IP3=::\r"; print "Community3=six\r"; print "Permission3=1\r";
       print "IP4=10.0.0.9\r"; print "Community4=far\r"; print "Permission4=2\r"; skip = 1; next }
     /^\[/ { skip = 0 }
     !skip { print }' "$VELLMAR_DIR/agent.ini" > "$VELLMAR_DIR/agent.ini.new"
mv "$VELLMAR_DIR/agent.ini.new" "$VELLMAR_DIR/agent.ini"
vellmar_start
opened_twice() { [ "$(log_count "IPv4-SNMP: OK IPv6-SNMP: OK")" -ge 2 ]; }
wait_for "agent open again" 15 opened_twice
[ "$(tr -d '\r\n' < "$VELLMAR_DIR/snmp_engine_boots.txt")" = $((BOOTS + 1)) ] || fail "engine boots did not rise"
ok "engine boots rose to $((BOOTS + 1))"
expect_out "v1 set from the listed read-write address" "^\.$E\.2\.7\.0 = INTEGER: 61$" \
  snmpset -v1 -c rwcomm "${SNMP[@]}" 127.0.0.1 $E.2.7.0 i 61
grep -q "Overload Delay=61" "$VELLMAR_DIR/agent.ini" || fail "the v1 set is not in agent.ini"
expect_out "v1 community of another address gets no answer" "^Timeout" \
  snmpget -v1 -c far "${SNMP[@]}" 127.0.0.1 1.3.6.1.2.1.1.1.0
expect_out "v1 over IPv6 with the :: entry" "STRING: \"Vellmar\"" \
  snmpget -v1 -c six "${SNMP[@]}" udp6:[::1]:161 1.3.6.1.2.1.1.1.0
expect_out "v1 IPv4 entry does not serve IPv6" "^Timeout" \
  snmpget -v1 -c fenwix "${SNMP[@]}" udp6:[::1]:161 1.3.6.1.2.1.1.1.0
expect_out "v3 after the restart" "STRING: \"Vellmar\"" \
  snmpget "${V3[@]}" "${SNMP[@]}" 127.0.0.1 1.3.6.1.2.1.1.1.0

vellmar_stop
