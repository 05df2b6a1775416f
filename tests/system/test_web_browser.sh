#!/usr/bin/env bash
# The web interface in headless Chromium (playwright-core from build/node, scripts/node_deps.sh):
# login, a changed system name, logout, a wrong password and the login lock. Screenshots go to
# web-browser/ beside the program in the build tree.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/web_lib.sh"

browser_ready

vellmar_install "$WEB_INI"
web_start
export HOME="$VELLMAR_DIR"   # the browser's profile stays in the test folder
NODE_PATH="$NODE_DIR" node "$VELLMAR_SOURCE_DIR/tests/system/browser_web.js" http://127.0.0.1 "$ARTIFACTS" \
  || fail "browser steps"
grep -q "^Name=Browser Rack" "$VELLMAR_DIR/agent.ini" || fail "the name set in the browser was not saved"
log_has "Web logout from 127.0.0.1" || fail "the browser's logout was not logged"
for f in login sys_info login_error login_lock; do [ -s "$ARTIFACTS/$f.png" ] || fail "no screenshot $f.png"; done
vellmar_stop
