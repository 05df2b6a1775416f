#!/usr/bin/env bash
# Nothing from the address bar or a stored text runs as script: the message page with a script in
# its query and list rows holding backslashes, parentheses and semicolons, in headless Chromium
# (playwright-core from build/node), over HTTP and HTTPS.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/web_lib.sh"

browser_ready

# Stored texts with what the input check lets through (no quotes, no markup).
vellmar_install "${WEB_INI%\[End\]*}[Source IP]
Number=1
IP1=127.0.0.1
Community1=x\\);alert(1);//
USM User1=\\\\);alert(2);
[SNMP Server]
Number=1
IP1=0.0.0.0
Community1=q\\);alert(3)//
Permission1=1
[USM]
Number=1
User1=u\\);alert(4);//
Security1=0
Permission1=2
[Cluster]
Number=1
vCenter1=10.0.0.5
Account1=c\\);alert(5);//é
Cluster1=n\\
[End]
"
web_start
export HOME="$VELLMAR_DIR"
NODE_PATH="$NODE_DIR" node "$VELLMAR_SOURCE_DIR/tests/system/browser_security.js" http://127.0.0.1 https://127.0.0.1 \
  "$ARTIFACTS" || fail "browser steps"
vellmar_stop
