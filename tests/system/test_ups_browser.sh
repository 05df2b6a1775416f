#!/usr/bin/env bash
# The UPS pages in headless Chromium (playwright-core from the build tree's node folder): the
# summary's live countdown after a real power failure trap, the event history, the trap target
# list editor, the SNMPv3 manager's pass phrases and the SNMPv3 users' permission. Screenshots go to ups-browser/ beside the program
# in the build tree.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/web_lib.sh"

NODE_DIR="$VELLMAR_SOURCE_DIR/build/node/node_modules"
[ -f "$NODE_DIR/playwright-core/package.json" ] || fail "playwright-core is missing: run scripts/deps.sh"
command -v /usr/bin/chromium >/dev/null || fail "chromium is missing: run scripts/deps.sh"
use_net_snmp
ARTIFACTS="$(dirname "$BREVANTA")/ups-browser"
mkdir -p "$ARTIFACTS"

# A long countdown that ends in nothing: the power failure only shows on the pages.
vellmar_install "[Format]
Version=7
[Web]
HTTP Port=80
HTTPS Port=443
Enable HTTP=Yes
Enable HTTPS=No
Enable Login Lock=Disable
[Shutdown]
Type=3
Power Fail Enable=Yes
Power Fail Delay=3600
[Source IP]
Listen Port=162
Number=1
IP1=127.0.0.1
Community1=public
$FACTORY_MANAGER_USM
[End]
"
vellmar_start
wait_for "web listener" 15 log_has "IPv4-HTTP: OK"
wait_for "trap listener" 15 log_has "IPv4-Trap: OK"
export HOME="$VELLMAR_DIR"   # the browser's profile stays in the test folder
TRAP="snmptrap -v 1 -c public -m '' udp:127.0.0.1:162 1.3.6.1.4.1.7342.2.4.20 127.0.0.1 6 3 ''"
NODE_PATH="$NODE_DIR" node "$VELLMAR_SOURCE_DIR/tests/system/ups_browser.js" http://127.0.0.1 "$ARTIFACTS" "$TRAP" \
  || fail "browser steps"
for f in summary summary_countdown history dev_forward dev_config; do
  [ -s "$ARTIFACTS/$f.png" ] || fail "no screenshot $f.png"
done
grep -q "^Number=0" <(sed -n '/^\[Forward Trap\]/,/^\[/p' "$VELLMAR_DIR/agent.ini") || fail "the deleted target stayed"
# The users the browser added and edited read through the agent (a permission of 0 would refuse them).
USM_SECTION=$(sed -n '/^\[USM\]/,/^\[/p' "$VELLMAR_DIR/agent.ini")
grep -q "^Permission2=1" <<<"$USM_SECTION" || fail "reader not stored with permission 1"
grep -q "^Permission3=1" <<<"$USM_SECTION" || fail "legacy not stored with permission 1"
# The manager's pass phrases changed in the browser are the agent's.
snmpget -v3 -l authPriv -u manager -a MD5 -A browser-auth-1 -x DES -X browser-priv-1 -n rt5830 -m '' -r 1 -t 3 \
  udp:127.0.0.1:161 1.3.6.1.2.1.1.1.0 | grep -q "STRING" || fail "the manager's new pass phrases do not read"
for user in reader legacy; do
  snmpget -v3 -l noAuthNoPriv -u "$user" -n rt5830 -m '' -r 1 -t 3 udp:127.0.0.1:161 1.3.6.1.2.1.1.1.0 \
    | grep -q "STRING" || fail "SNMPv3 user $user cannot read"
done
vellmar_stop
echo "ok"
