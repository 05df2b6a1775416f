#!/usr/bin/env bash
# The UPS pages through real HTTP with a logged-in curl session: every page renders without a
# tag left, each form's main path and refusals (token, input check, full list, duplicate), and
# their effects in agent.ini and in the service: a trap source added on the page accepts a real
# snmptrap trap, the SNMP port changed on the page answers snmpget after the next 5-second tick,
# the simulated power failure reaches snmptrapd as an SNMPv1 trap 6/3 of the first source, and a
# settings file downloaded and uploaded again leaves agent.ini unchanged. Also the history view
# with its pager, dates and CSV export, a user name typed at the login shown escaped, numbers and
# addresses out of their ranges refused, the command file and vCLI path kept from the device
# manager, the communities kept from the user account, and the SNMPv3 manager's factory pass
# phrases warned of until the administrator changes them on the page.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/web_lib.sh"

# The forwarder needs an address that is not loopback.
ip link add vups0 type veth peer name vups1
ip addr add 192.0.2.20/24 dev vups0
ip link set vups0 up
ip link set vups1 up
use_net_snmp

vellmar_install "[Format]
Version=7
[Web]
HTTP Port=80
HTTPS Port=443
Enable HTTP=Yes
Enable HTTPS=Yes
Force HTTPS=No
Enable Login Lock=Disable
User1=<script>alert(1)</script>
[Source IP]
Listen Port=162
Number=0
[SNMP Server]
Listen Port=161
Number=0
$FACTORY_MANAGER_USM
[End]
"
INI="$VELLMAR_DIR/agent.ini"
export VELLMAR_TRAP_TRACE="$VELLMAR_DIR/traps.trace"
H=http://127.0.0.1

TRAPD_LOG="$VELLMAR_DIR/trapd.log"
cat > "$SNMP_PERSISTENT_DIR/snmptrapd.conf" <<EOF
authCommunity log pagecomm
format1 TRAP1 %a|%N|%w|%q|%P\n
EOF
snmptrapd -f -n -m '' -Lf "$TRAPD_LOG" -C -c "$SNMP_PERSISTENT_DIR/snmptrapd.conf" \
  -p "$VELLMAR_DIR/trapd.pid" udp:127.0.0.1:11162 &
VELLMAR_PIDS+=($!)

web_start
login "$H" admin quillbox

# post PATH DATA...: posts the form with the session; prints the reply's Location.
post() {
  local path=$1
  shift
  location "$("${CURL[@]}" -D - -o /dev/null -b "$COOKIE" "$@" "$H/orvik/$path")"
}
# page PATH: the rendered page; fails when a tag is left in it.
page() {
  local body
  body=$("${CURL[@]}" -b "$COOKIE" "$H$1")
  [[ "$body" == *"<% "* ]] && fail "$1 has a tag left"
  [[ "$body" == *'id="challenge"'* ]] && fail "$1 answered with the login page"
  printf '%s' "$body"
}
msg() { message_title "$H"; }
msg_body() { "${CURL[@]}" -b "$COOKIE" "$H/message.asp" | tr -d '\n'; }
expect_info() { [ "$(msg)" = "Information" ] || fail "$1: message '$(msg)': $(msg_body)"; }
expect_error() {
  [ "$(msg)" = "Error" ] || fail "$1: expected an error, got '$(msg)'"
  [ -z "${2:-}" ] || grep -q -- "$2" <<<"$(msg_body)" || fail "$1: error is not '$2': $(msg_body)"
}

for p in /en/summary.asp /en/summary.xml /en/hist_log.asp /en/hist_config.asp /en/device/dev_config.asp \
         /en/device/dev_control.asp /en/device/dev_forward.asp /en/device/dev_snmpv1.asp /en/device/dev_snmpv3.asp \
         /en/sys_batch.asp /debug.asp; do
  page "$p" > /dev/null
done
# Every rendering of a page with forms issues a new token: each post takes a fresh one.
TOK=$(token "$H" /en/device/dev_config.asp)
[ ${#TOK} = 24 ] || fail "no token on the configuration page"
cfg_tok() { token "$H" /en/device/dev_config.asp; }

# --- A trap source added on the page accepts a real trap.
trap_v1() { snmptrap -v 1 -c pagecomm -m '' udp:127.0.0.1:162 1.3.6.1.4.1.7342.2.4.20 127.0.0.1 6 2 '' >/dev/null; }
trap_v1
sleep 1
[ -s "$VELLMAR_TRAP_TRACE" ] && fail "a trap of an unlisted source was accepted"
[ "$(post dev_isource --data "SYS_UCTOKEN=$(cfg_tok)&CFG_DEV_IP=127.0.0.1&CFG_DEV_COMM=pagecomm&CFG_DEV_USER=&CFG_DEV_ADD1=Add")" \
  = "$H/message.asp" ] || fail "trap source post"
expect_info "trap source add"
grep -q "^IP1=127.0.0.1" "$INI" && grep -q "^Community1=pagecomm" "$INI" || fail "trap source not saved"
grep -q "Func_Select(1,'127.0.0.1','pagecomm','',1);" <<<"$(page /en/device/dev_config.asp)" || fail "source row not shown"
trap_v1
trace_has() { grep -q "$1" "$VELLMAR_TRAP_TRACE" 2>/dev/null; }
wait_for "trap of the new source accepted" 10 trace_has "accepted version=0 source=0"
grep -q "<SUM_SOURCE_IP>127.0.0.1</SUM_SOURCE_IP>" <<<"$(page /en/summary.asp)" || fail "summary lacks the source"
# Refusals: no token, markup, duplicate, row outside the list, full list.
post dev_isource --data "CFG_DEV_IP=127.0.0.9&CFG_DEV_ADD1=Add" >/dev/null
grep -q "127.0.0.9" "$INI" && fail "a post without a token added a source"
post dev_isource --data "SYS_UCTOKEN=$(cfg_tok)&CFG_DEV_IP=<b>&CFG_DEV_ADD1=Add" >/dev/null
expect_error "markup" "Incorrect input!"
post dev_isource --data "SYS_UCTOKEN=$(cfg_tok)&CFG_DEV_IP=127.0.0.1&CFG_DEV_ADD1=Add" >/dev/null
expect_error "duplicate" "IP Addess already in use!"
post dev_isource --data "SYS_UCTOKEN=$(cfg_tok)&CFG_DEV_IP=127.0.0.7&CFG_DEV_EDIT5=Edit" >/dev/null
expect_error "row 5 of 1" "Incorrect row number!"
for i in $(seq 2 32); do
  post dev_isource --data "SYS_UCTOKEN=$(cfg_tok)&CFG_DEV_IP=10.0.0.$i&CFG_DEV_COMM=c&CFG_DEV_ADD1=Add" >/dev/null
done
grep -q "^IP32=10.0.0.32" "$INI" || fail "32 sources not saved"
post dev_isource --data "SYS_UCTOKEN=$(cfg_tok)&CFG_DEV_IP=10.0.1.1&CFG_DEV_ADD1=Add" >/dev/null
expect_error "33rd source" "Exceed the maximum number of Trap source!"
for i in $(seq 32 -1 2); do
  post dev_isource --data "SYS_UCTOKEN=$(cfg_tok)&CFG_DEV_DEL$i=Delete" >/dev/null
done
grep -q "^IP2=" "$INI" && fail "sources not deleted"

# --- Shutdown settings.
post dev_config --data "SYS_UCTOKEN=$(cfg_tok)&CFG_SHUT_TYPE=3&CFG_PF_EN=on&CFG_OSD_PF=600&CFG_OSD_BL=30&CFG_OSD_OL=30&CFG_OSD_BP=30&CFG_OSD_SS=30&SUB_SHUTDOWN=Apply" >/dev/null
expect_info "shutdown settings"
grep -q "^Power Fail Delay=600" "$INI" && grep -q "^Bypass Enable=No" "$INI" && grep -q "^Type=3" "$INI" \
  || fail "shutdown settings not saved"
grep -q 'name="CFG_OSD_PF" value="600"' <<<"$(page /en/device/dev_config.asp)" || fail "delay not shown"
post dev_config --data "SYS_UCTOKEN=$(cfg_tok)&SUB_VM=1&CFG_VM_HOST=esx%0d%0aecho" >/dev/null
expect_error "control character in a VMware value" "Incorrect input!"

# --- Trap forwarding and the simulated power failure.
post dev_iforward --data "SYS_UCTOKEN=$(cfg_tok)&FWD_TARGET_IP=127.0.0.1&FWD_TARGET_PORT=11162&FWD_TARGET_ADD1=Add" >/dev/null
expect_info "trap target"
post dev_iforward --data "SYS_UCTOKEN=$(cfg_tok)&FWD_TARGET_IP=127.0.0.1&FWD_TARGET_PORT=11163&FWD_TARGET_ADD1=Add" >/dev/null
expect_error "target duplicate" "IP Addess already in use!"
trapd_lines() { if [ -f "$TRAPD_LOG" ]; then grep -c '^TRAP1' "$TRAPD_LOG" || true; else echo 0; fi; }
trapd_grew() { [ "$(trapd_lines)" -gt "$1" ]; }
before=$(trapd_lines)
CTL=$(token "$H" /en/device/dev_control.asp)
post dev_control --data "SYS_UCTOKEN=$CTL&SIM_POWERFAIL=1" >/dev/null
expect_info "simulated power failure"
wait_for "simulated power failure forwarded" 10 trapd_grew "$before"
line=$(grep '^TRAP1' "$TRAPD_LOG" | tail -n 1)
[[ "$line" =~ ^TRAP1\ 192\.0\.2\.20\|.*\|6\|\.?3\| && "$line" == *"community pagecomm"* ]] || fail "forward of the simulated failure: $line"

# --- SNMP managers and port: the new port answers after the next 5-second tick.
V1=$(token "$H" /en/device/dev_snmpv1.asp)
post dev_iaccess --data "SYS_UCTOKEN=$V1&CFG_DEV_IP=0.0.0.0&CFG_DEV_COMM=pagecomm&CFG_DEV_PERMISSION=1&CFG_DEV_ADD1=Add" >/dev/null
expect_info "manager add"
post dev_snmpv1 --data "SYS_UCTOKEN=$V1&CFG_SNMP_PORT=1161&SUB_PORT=Apply" >/dev/null
expect_info "snmp port"
grep -q "^Listen Port=1161" "$INI" || fail "port not saved"
snmp_answers() { grep -q . <<<"$(snmpget -v 1 -c pagecomm -m '' -r 0 -t 1 udp:127.0.0.1:1161 1.3.6.1.2.1.1.5.0 2>/dev/null)"; }
wait_for "agent on port 1161" 15 snmp_answers

# --- The manager's factory pass phrases: the administrator's pages warn until they are changed
# on the page; the agent then takes the new ones only.
FACTORY_USM='Number("1") !== 0) document.getElementById("factory-usm")'
grep -qF "$FACTORY_USM" <<<"$(page /home.asp)" || fail "no warning of the manager's factory pass phrases"
grep -qF "$FACTORY_USM" <<<"$(page /en/device/dev_snmpv3.asp)" || fail "no warning on the SNMPv3 page"
V3=$(token "$H" /en/device/dev_snmpv3.asp)
post dev_iusm --data "SYS_UCTOKEN=$V3&CFG_DEV_EDIT1=Edit&CFG_USM_USER=renamed&CFG_USM_AUTH=page-auth-1" >/dev/null
expect_error "manager renamed" "Cannot edit the manager!"
post dev_iusm --data "SYS_UCTOKEN=$V3&CFG_DEV_EDIT1=Edit&CFG_USM_USER=manager&CFG_USM_SECURITY=2&CFG_USM_AUTH=page-auth-1&CFG_USM_PRIV=page-priv-1&CFG_USM_PERMISSION=2" >/dev/null
expect_info "manager's pass phrases"
grep -q "^User1=manager" "$INI" && grep -q "^Auth1=page-auth-1" "$INI" && grep -q "^Priv1=page-priv-1" "$INI" \
  || fail "the manager's pass phrases are not saved"
grep -qF "$FACTORY_USM" <<<"$(page /home.asp)" && fail "the warning stays after the change"
v3_get() {
  snmpget -v3 -u manager -l authPriv -a MD5 -A "$1" -x DES -X "$2" -n rt5830 -m '' -r 0 -t 2 \
    udp:127.0.0.1:1161 1.3.6.1.2.1.1.5.0 2>/dev/null | grep -q .
}
v3_get page-auth-1 page-priv-1 || fail "the manager's new pass phrases are refused by the agent"
v3_get mq472816 hv305749 && fail "the agent still takes the factory pass phrases"

# --- SNMPv3 users and context.
V3=$(token "$H" /en/device/dev_snmpv3.asp)
post dev_iusm --data "SYS_UCTOKEN=$V3&CFG_USM_USER=pageuser&CFG_USM_SECURITY=1&CFG_USM_AUTH=short&CFG_USM_PERMISSION=0&CFG_DEV_ADD1=Add" >/dev/null
expect_error "short pass phrase" "The password must longer than 8 bytes!"
post dev_iusm --data "SYS_UCTOKEN=$V3&CFG_USM_USER=pageuser&CFG_USM_SECURITY=1&CFG_USM_AUTH=longenough&CFG_USM_PERMISSION=0&CFG_DEV_ADD1=Add" >/dev/null
expect_info "usm add"
grep -q "longenough" <<<"$(page /en/device/dev_snmpv3.asp)" && fail "a pass phrase reached the page"
V3=$(token "$H" /en/device/dev_snmpv3.asp)
post dev_iusm --data "SYS_UCTOKEN=$V3&CFG_DEV_DEL1=Delete" >/dev/null
expect_error "manager delete" "Cannot delete the manager!"
post dev_snmpv3 --data "SYS_UCTOKEN=$V3&CFG_USM_CONTEXT=pagectx&SUB_CONTEXT=Apply" >/dev/null
expect_info "context"
grep -q "^Context Name=pagectx" "$INI" || fail "context not saved"

# --- History: paging, dates, CSV, escaping of a logged account name (a refused login logs it).
challenge "$H" >/dev/null   # a live challenge: the first one may have expired on a busy machine
"${CURL[@]}" -o /dev/null --data-urlencode "Username=<script>alert(1)</script>" --data "Response=00" "$H/orvik/login"
log_has "<script>alert(1)</script>" || fail "the typed user name is not logged as typed"
post hist_log --data "LOG_BUTTON=%3C%3C" >/dev/null
grep -q "Page1" <<<"$(page /en/hist_log.asp)" || fail "history page 1"
frame=$("${CURL[@]}" -b "$COOKIE" "$H/tmp/iframe_log.htm")
[[ "$frame" == *"&lt;script&gt;alert(1)&lt;/script&gt;"* && "$frame" != *"<script>alert"* ]] \
  || fail "the log view does not escape the user name"
today=$(date +%m/%d/%Y)
post hist_log --data "BUT_APPLY=Apply&LOG_FROM=$today&LOG_TO=$today" >/dev/null
grep -q "$today ~ $today" <<<"$(page /en/hist_log.asp)" || fail "date range not shown"
grep -q "IPv4-HTTP" <<<"$("${CURL[@]}" -b "$COOKIE" "$H/tmp/iframe_log.htm")" || fail "range view empty"
post hist_log --data "BUT_APPLY=Apply&LOG_FROM=13/01/2026&LOG_TO=$today" >/dev/null
[ "$(msg)" = "Incorrect Date Format" ] || fail "bad date accepted"
post hist_log --data "DLLOG_BUTTON=Export" >/dev/null
"${CURL[@]}" -b "$COOKIE" "$H/tmp/event_log.csv" -o "$VELLMAR_DIR/export.csv"
[ "$(head -c 3 "$VELLMAR_DIR/export.csv" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "CSV without its byte-order mark"
grep -q "IP Address,Date,Time,Level,Event" <<<"$(sed -n 3p "$VELLMAR_DIR/export.csv")" || fail "CSV header"
grep -q "<script>alert(1)</script>" "$VELLMAR_DIR/export.csv" || fail "the CSV export is not left as logged"
grep -q 'id="challenge"' <<<"$("${CURL[@]}" "$H/tmp/event_log.csv")" || fail "the export is served without a session"

# --- Settings download and upload: the file goes through unchanged and is served once.
cp "$INI" "$VELLMAR_DIR/before.ini"
SB=$(token "$H" /en/sys_batch.asp)
[ "$(post sys_batch --data "SYS_UCTOKEN=$SB&DL_SYSTEM=Download")" = "$H/tmp/agent.ini" ] || fail "download redirect"
"${CURL[@]}" -b "$COOKIE" "$H/tmp/agent.ini" -o "$VELLMAR_DIR/downloaded.ini"
cmp -s "$VELLMAR_DIR/downloaded.ini" "$INI" || fail "the download differs from agent.ini"
[ -e "$VELLMAR_DIR/httpd/htdocs/tmp/agent.ini" ] && fail "the settings copy stayed after it was sent"
grep -q "^\[End\]" <<<"$("${CURL[@]}" -b "$COOKIE" "$H/tmp/agent.ini")" && fail "the settings copy was served twice"
post sys_batch -F "SYS_UCTOKEN=$SB" -F "UL_F_SYSTEM=@$VELLMAR_DIR/downloaded.ini" -F "UL_SYSTEM=Upload" >/dev/null
[ "$(msg)" = "Information" ] || fail "upload: $(msg_body)"
cmp "$VELLMAR_DIR/before.ini" "$INI" || fail "agent.ini changed by uploading its own download"
printf 'not a settings file\n' > "$VELLMAR_DIR/bad.ini"
post sys_batch -F "SYS_UCTOKEN=$SB" -F "UL_F_SYSTEM=@$VELLMAR_DIR/bad.ini" -F "UL_SYSTEM=Upload" >/dev/null
expect_error "bad upload" "File format mismatched"
cmp -s "$VELLMAR_DIR/before.ini" "$INI" || fail "a refused upload changed agent.ini"

# --- Reactions, management switch, clearing the log.
post dev_config --data "SYS_UCTOKEN=$(cfg_tok)&CFG_MSG_EN=on&CFG_MSG_PERIOD=45&CFG_CMD_FILE=%2Fopt%2Fups%2Fbefore.sh&CFG_CMD_BEFORE=20&SUB_REACTION=Apply" >/dev/null
expect_info "reactions"
grep -q "^Execute Command File=/opt/ups/before.sh" "$INI" && grep -q "^Notify Message Period=45" "$INI" \
  && grep -q "^Execute Command Enable=No" "$INI" || fail "reactions not saved"
post dev_config --data "SYS_UCTOKEN=$(cfg_tok)&SUB_MAG=Apply" >/dev/null
expect_info "management switch"
grep -q 'id="mag-en" data-on="0"' <<<"$(page /en/device/dev_config.asp)" || fail "management switch not off"
HC=$(token "$H" /en/hist_config.asp)
post hist_config --data "SYS_UCTOKEN=$HC&CLEAR_LOG=Clear" >/dev/null
[ "$(msg)" = "Information" ] || fail "clearing the log: $(msg_body)"
log_has "Web login" && fail "the log was not cleared"

# --- Access levels: a user may page the history, use the debug page's buttons and choose the
# language, but not change the device, and is shown no community.
ADMIN=$COOKIE
for p in /en/device/dev_snmpv1.asp /en/device/dev_config.asp /en/summary.asp /en/summary.xml; do
  grep -q pagecomm <<<"$(page "$p")" || fail "the administrator is not shown the communities on $p"
done
login "$H" user quillbox
[ "$(post hist_log --data "LOG_BUTTON=%3E%3E")" = "$H/en/hist_log.asp" ] || fail "a user cannot page the history"
UT=$(token "$H" /en/device/dev_config.asp)
post dev_config --data "SYS_UCTOKEN=$UT&CFG_SHUT_TYPE=0&SUB_SHUTDOWN=1" >/dev/null
grep -q "^Type=3" "$INI" || fail "a user changed the shutdown settings"
for p in /en/device/dev_snmpv1.asp /en/device/dev_config.asp /en/summary.asp /en/summary.xml; do
  grep -q pagecomm <<<"$(page "$p")" && fail "the user account is shown a community on $p"
done
[ "$(post debug --data "DBG_REFRESH=Refresh")" = "$H/debug.asp" ] || fail "a user cannot refresh the debug page"
[ "$(post debug --data "DBG_HOME=Home")" = "$H/home.asp" ] || fail "a user cannot leave the debug page"
[ "$(post language --data "SYS_UCTOKEN=$(token "$H" /en/language.asp)&LANG=0")" = "$H/en/device/index.asp" ] \
  || fail "a user cannot choose the language: $(msg_body)"
post sys_batch --data "SYS_UCTOKEN=$UT&DL_SYSTEM=Download" >/dev/null
expect_error "a user's settings download" "This account may not change this page."
COOKIE=$ADMIN

# --- Numbers: a page number past the log shows its last page; values outside their range and
# addresses that are no host are refused, and nothing is saved.
post hist_log --data "LOG_BUT1=2147483648" >/dev/null
grep -q '<span id="view">Page1</span>' <<<"$(page /en/hist_log.asp)" || fail "a page past the log is not its last"
cp "$INI" "$VELLMAR_DIR/before.ini"
for form in "dev_config CFG_PF_EN=on&CFG_OSD_PF=999999999999&SUB_SHUTDOWN=Apply" \
            "dev_config CFG_TRAP_PORT=70000&SUB_LOGICAL=Apply" \
            "dev_config CFG_MSG_PERIOD=65536&SUB_REACTION=Apply" \
            "dev_iforward FWD_TARGET_IP=ups.example&FWD_TARGET_PORT=162&FWD_TARGET_ADD1=Add" \
            "dev_iforward FWD_TARGET_IP=127.0.0.2&FWD_TARGET_PORT=0&FWD_TARGET_ADD1=Add" \
            "dev_iaccess CFG_DEV_IP=10.0.0.300&CFG_DEV_COMM=c&CFG_DEV_PERMISSION=1&CFG_DEV_ADD1=Add"; do
  post "${form%% *}" --data "SYS_UCTOKEN=$(cfg_tok)&${form#* }" >/dev/null
  expect_error "${form#* }" "Incorrect input!"
done
cmp -s "$VELLMAR_DIR/before.ini" "$INI" || fail "a refused value changed agent.ini"

# --- What the service runs is the administrator's: the device manager may post the command
# file and the vCLI path only as they are stored.
login "$H" "<script>alert(1)</script>" quillbox   # the device manager of this file
post dev_config --data "SYS_UCTOKEN=$(cfg_tok)&CFG_CMD_EN=on&CFG_CMD_FILE=%2Ftmp%2Fx.sh&CFG_MSG_PERIOD=50&SUB_REACTION=Apply" >/dev/null
expect_error "device manager's command file" "Only the administrator may change the command file."
post dev_config --data "SYS_UCTOKEN=$(cfg_tok)&SUB_VM=Apply&CFG_VM_VCLI=%2Ftmp%2Fmine" >/dev/null
expect_error "device manager's vCLI path" "Only the administrator may change the vCLI path."
cmp -s "$VELLMAR_DIR/before.ini" "$INI" || fail "a refused path changed agent.ini"
post dev_config --data "SYS_UCTOKEN=$(cfg_tok)&CFG_MSG_EN=on&CFG_MSG_PERIOD=50&CFG_CMD_FILE=%2Fopt%2Fups%2Fbefore.sh&CFG_CMD_BEFORE=20&SUB_REACTION=Apply" >/dev/null
expect_info "device manager's reactions with the stored command file"
grep -q "^Notify Message Period=50" "$INI" || fail "the device manager's period was not saved"
# Its switch is the device manager's.
post dev_config --data "SYS_UCTOKEN=$(cfg_tok)&CFG_CMD_EN=on&CFG_MSG_EN=on&CFG_MSG_PERIOD=50&CFG_CMD_FILE=%2Fopt%2Fups%2Fbefore.sh&CFG_CMD_BEFORE=20&SUB_REACTION=Apply" >/dev/null
expect_info "device manager switches the command file on"
grep -q "^Execute Command Enable=Yes" "$INI" || fail "the device manager's switch of the command file was not saved"
post dev_config --data "SYS_UCTOKEN=$(cfg_tok)&CFG_MSG_EN=on&CFG_MSG_PERIOD=50&CFG_CMD_FILE=%2Fopt%2Fups%2Fbefore.sh&CFG_CMD_BEFORE=20&SUB_REACTION=Apply" >/dev/null
grep -q "^Execute Command Enable=No" "$INI" || fail "the device manager could not switch the command file off"
grep -q pagecomm <<<"$(page /en/device/dev_snmpv1.asp)" || fail "the device manager is not shown the communities"
V3=$(token "$H" /en/device/dev_snmpv3.asp)
post dev_iusm --data "SYS_UCTOKEN=$V3&CFG_DEV_EDIT1=Edit&CFG_USM_USER=manager&CFG_USM_AUTH=device-auth" >/dev/null
expect_error "device manager edits the manager" "Cannot edit the manager!"
grep -q "^Auth1=page-auth-1" "$INI" || fail "the device manager changed the manager's pass phrase"
[ "$(post debug --data "DBG_REFRESH=Refresh")" = "$H/debug.asp" ] || fail "the device manager cannot refresh the debug page"
COOKIE=$ADMIN

# --- Debug page replies.
[ "$(post debug --data "DBG_REFRESH=1")" = "$H/debug.asp" ] || fail "debug refresh"
[ "$(post debug --data "DBG_HOME=1")" = "$H/home.asp" ] || fail "debug home"

# --- An uploaded file that moves the web server: the answer still arrives, the next 5-second tick
# opens the new port.
sed 's/^HTTP Port=80\r$/HTTP Port=8080\r/' "$INI" > "$VELLMAR_DIR/moved.ini"
grep -q "^HTTP Port=8080" "$VELLMAR_DIR/moved.ini" || fail "test file without the new port"
SB=$(token "$H" /en/sys_batch.asp)
h=$("${CURL[@]}" -D - -o /dev/null -b "$COOKIE" -F "SYS_UCTOKEN=$SB" -F "UL_F_SYSTEM=@$VELLMAR_DIR/moved.ini" \
      -F "UL_SYSTEM=Upload" "$H/orvik/sys_batch")
[ "$(location "$h")" = "$H/message.asp" ] || fail "no answer to the upload that moves the web server: $h"
new_port_answers() { grep -q 200 <<<"$("${CURL[@]}" -o /dev/null -w '%{http_code}' http://127.0.0.1:8080/login.asp)"; }
wait_for "web server on port 8080" 15 new_port_answers

vellmar_stop
echo "ok"
