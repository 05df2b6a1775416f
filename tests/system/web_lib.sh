# Helpers of the web tests: an installation with the web settings of the tests, login through the
# challenge as a browser does it, and raw requests.
WEB_INI="[Format]
Version=7
[Web]
HTTP Port=80
HTTPS Port=443
Enable HTTP=Yes
Enable HTTPS=Yes
Force HTTPS=No
Enable Login Lock=Enable
Login Retry=3
Locak Time=1
[Source IP]
Number=1
IP1=127.0.0.1
Community1=public
[End]
"
# The [USM] section of an installation whose SNMPv3 manager keeps the earlier factory pass phrases.
FACTORY_MANAGER_USM="[USM]
Context Name=rt5830
Password Encrypt=No
Number=1
User1=manager
Security1=2
Auth1=mq472816
Priv1=hv305749
Permission1=2"
CURL=(curl -s -k -g --max-time 30)
# A command that fails outside a test's own checks names itself before the script ends.
set -E
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND (status $?)" >&2' ERR

web_start() {
  vellmar_start
  wait_for "web listeners" 15 log_has "IPv4-HTTPS: OK"
}

# has PATTERN: the input holds the pattern; reads all of it, so the writer never gets a broken pipe.
has() { grep -c -e "$1" >/dev/null; }

# challenge BASE: a fresh login challenge for this client.
challenge() { "${CURL[@]}" "$1/login.asp" | sed -n 's/.*id="challenge" value="\([^"]*\)".*/\1/p'; }
md5hex() { printf '%s' "$1" | md5sum | cut -c1-32; }

# login BASE USER PASSWORD: posts the challenge response; prints the answer's head.
login_head() {
  local ch
  ch=$(challenge "$1")
  [ -n "$ch" ] || fail "no challenge on the login page"
  "${CURL[@]}" -D - -o /dev/null --data-urlencode "Username=$2" --data "Response=$(md5hex "$2$3$ch")" "$1/orvik/login"
}
# login BASE USER PASSWORD: sets COOKIE to "Vellmar=<id>".
login() {
  COOKIE=$(login_head "$@" | sed -n 's/^Set-Cookie: \(Vellmar=[^;]*\);.*/\1/p')
  [ -n "$COOKIE" ] || fail "login of $2 refused"
}
# token BASE PAGE: the anti-forgery token rendered on the page for this session.
token() { "${CURL[@]}" -b "$COOKIE" "$1$2" | sed -n 's/.*name="SYS_UCTOKEN" value="\([^"]*\)".*/\1/p'; }
# location HEAD-TEXT: the Location header's value.
location() { printf '%s' "$1" | sed -n 's/^Location: \(.*\)\r$/\1/p'; }
# raw HOST PORT: sends stdin as it stands, prints what comes back until the server closes (10 s at most).
raw() { python3 "$VELLMAR_SOURCE_DIR/tests/system/http_raw.py" "$@"; }
# message_title BASE: the title of the message page as it is now for this client (with the session
# of COOKIE when one is set: a session's replies are shown only to it).
message_title() { "${CURL[@]}" ${COOKIE:+-b "$COOKIE"} "$1/message.asp" | sed -n 's/.*<h1 id="title">\(.*\)<\/h1>.*/\1/p'; }
# browser_ready: checks for playwright-core (NODE_DIR) and Chromium; ARTIFACTS is the screenshot folder
# beside the program in the build tree.
browser_ready() {
  NODE_DIR="$VELLMAR_SOURCE_DIR/build/node/node_modules"
  [ -f "$NODE_DIR/playwright-core/package.json" ] || fail "playwright-core is missing: run scripts/node_deps.sh"
  command -v /usr/bin/chromium >/dev/null || fail "chromium is missing: run scripts/deps.sh"
  ARTIFACTS="$(dirname "$BREVANTA")/web-browser"
  mkdir -p "$ARTIFACTS"
}
