#!/usr/bin/env bash
# The web server against curl and openssl s_client on ports 80 and 443: free and gated paths, login
# through the challenge, cookie, anti-forgery token and access levels, the system pages' forms,
# logout, error answers, HEAD, the HTTPS redirect, a large file over TLS 1.2 and TLS 1.3 refused.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/web_lib.sh"

vellmar_install "$WEB_INI"
HT="$VELLMAR_DIR/httpd/htdocs"
INI="$VELLMAR_DIR/agent.ini"
H=http://127.0.0.1
S=https://127.0.0.1
web_start
[ -s "$VELLMAR_DIR/httpd/cert_web.pem" ] || fail "no certificate was made at start"
[ "$(stat -c %a "$VELLMAR_DIR/httpd/cert_web.pem")" = 600 ] || fail "the certificate file is readable by others"

# --- Free and gated paths.
"${CURL[@]}" "$H/" | has 'id="challenge"' || fail "/ is not the login page"
ct=$("${CURL[@]}" -o /dev/null -w '%{http_code} %{content_type}' "$H/template.css")
[ "$ct" = "200 text/css" ] || fail "style sheet: $ct"
for p in /en/sys_user.asp /en/sys_user.ASP /en/SYS_USER.asp /agent.ini /tmp/agent.INI /tmp/iframe_log.htm \
         /en/device/index.asp?page=2 /x/../../agent.ini /%2e%2e/%2e%2e/agent.ini; do
  body=$("${CURL[@]}" --path-as-is -w '%{http_code}' "$H$p")
  [[ "$body" == *'id="challenge"'*200 ]] || fail "$p was served without a session"
done

# --- Login through the challenge.
head=$(login_head "$H" admin quillbox)
[[ "$head" == *"Set-Cookie: Vellmar="*";path=/; HttpOnly"* ]] || fail "login answer: $head"
[ "$(location "$head")" = "$H/home.asp" ] || fail "login does not lead home: $head"
log_has "Web login accepted: account admin from 127.0.0.1" || fail "login not logged"
login "$H" admin quillbox
"${CURL[@]}" -b "$COOKIE" "$H/en/sys_user.asp" | has 'name="USR_ACCOUNT1" maxlength="32" value="admin"' \
  || fail "the accounts page is not shown with a session"
"${CURL[@]}" -b "$COOKIE" "$H/home.asp" | has 'Number("7")' || fail "the factory-password notice is missing"
"${CURL[@]}" -b "$COOKIE" "$H/home.asp" | has 'Number("0")' || fail "the factory-password notice shows twice"

# A captured response does not log in again: each attempt renews the challenge.
ch=$(challenge "$H")
resp=$(md5hex "adminquillbox$ch")
h1=$("${CURL[@]}" -D - -o /dev/null --data "Username=admin&Response=$resp" "$H/orvik/login")
h2=$("${CURL[@]}" -D - -o /dev/null --data "Username=admin&Response=$resp" "$H/orvik/login")
[[ "$h1" == *Set-Cookie* ]] || fail "first use of a response refused"
[[ "$h2" != *Set-Cookie* && "$(location "$h2")" == "$H/message.asp" ]] || fail "a replayed response logged in: $h2"
[ "$(message_title "$H")" = "Login Error" ] || fail "replay: message $(message_title "$H")"
# An empty login post never hands out the last visitor's cookie.
h3=$("${CURL[@]}" -D - -o /dev/null --data "" "$H/orvik/login")
[[ "$h3" != *Set-Cookie* ]] || fail "an empty login post got a cookie: $h3"

# --- System information: token, input check, save, escaping.
tok=$(token "$H" /en/sys_info.asp)
[ ${#tok} = 24 ] || fail "token: '$tok'"
h=$("${CURL[@]}" -D - -o /dev/null -b "$COOKIE" --data "SYS_UCTOKEN=$tok&INF_NAME=<b>x" "$H/orvik/sys_info")
[ "$(message_title "$H")" = "Error" ] || fail "markup in a field was taken"
h=$("${CURL[@]}" -D - -o /dev/null -b "$COOKIE" --data "SYS_UCTOKEN=$tok&INF_NAME=Rack+7&INF_LOCATION=Hall%20B" "$H/orvik/sys_info")
[ "$(location "$h")" = "$H/message.asp" ] && [ "$(message_title "$H")" = "Information" ] || fail "sys_info post: $h"
grep -q "^Name=Rack 7" "$INI" || fail "system name not saved"
"${CURL[@]}" -b "$COOKIE" "$H/en/device/index.asp" | has '<td id="name">Rack 7</td>' || fail "new name not shown"
# Without a token, with an empty one, or without a session nothing changes.
for data in "INF_NAME=Evil" "SYS_UCTOKEN=&INF_NAME=Evil"; do
  "${CURL[@]}" -o /dev/null -b "$COOKIE" --data "$data" "$H/orvik/sys_info"
done
h=$("${CURL[@]}" -D - -o /dev/null --data "SYS_UCTOKEN=$tok&INF_NAME=Evil" "$H/orvik/sys_info")
[ "$(location "$h")" = "$H/login.asp" ] || fail "a post without a session was not sent to the login: $h"
h=$("${CURL[@]}" -D - -o /dev/null --data "DEV_X=1" "$H/orvik/dev_isource")
[ "$(location "$h")" = "$H/login.asp" ] || fail "a device form post without a session was handled: $h"
grep -q "^Name=Evil" "$INI" && fail "a post without a valid token changed the name"
# Query values shown on the login page are escaped.
"${CURL[@]}" "$H/login.asp?account=%3Cscript%3E&password=%22x" | has 'value="&lt;script&gt;"' \
  || "${CURL[@]}" "$H/login.asp?account=<script>&password=x" | has 'value="&lt;script&gt;"' || fail "account not escaped"

# --- Language: only 0-3.
tok=$(token "$H" /en/language.asp)
"${CURL[@]}" -o /dev/null -b "$COOKIE" --data "SYS_UCTOKEN=$tok&LANG=9" "$H/orvik/language"
grep -q "^Language=9" "$INI" && fail "language 9 was stored"
[ "$(message_title "$H")" = "Error" ] || fail "language 9 not refused"

# --- Access levels: a user may look but not change system settings.
ADMIN_COOKIE=$COOKIE
login "$H" user quillbox
"${CURL[@]}" -b "$COOKIE" "$H/en/sys_info.asp" | has 'name="INF_NAME"' || fail "a user cannot look at sys_info"
tok=$(token "$H" /en/sys_info.asp)
"${CURL[@]}" -o /dev/null -b "$COOKIE" --data "SYS_UCTOKEN=$tok&INF_NAME=ByUser" "$H/orvik/sys_info"
grep -q "^Name=ByUser" "$INI" && fail "a user changed the system name"
"${CURL[@]}" -b "$COOKIE" "$H/tmp/agent.ini" | has 'id="challenge"' || fail "a user got the settings copy path"

# --- Logout ends the session.
"${CURL[@]}" -b "$ADMIN_COOKIE" "$H/logout.asp" | has "logged out" || fail "logout page"
log_has "Web logout from 127.0.0.1" || fail "logout not logged"
"${CURL[@]}" -b "$ADMIN_COOKIE" "$H/en/sys_user.asp" | has 'id="challenge"' || fail "session alive after logout"

# --- IPv6: the same pages, and a login keyed on the 16-byte address.
login "http://[::1]" admin quillbox
"${CURL[@]}" -b "$COOKIE" "http://[::1]/en/sys_user.asp" | has 'value="admin"' || fail "IPv6 session"
log_has "account admin from ::1" || fail "IPv6 login not logged with its address"

# --- Errors, HEAD, PUT.
out=$(printf 'DELETE / HTTP/1.1\r\nHost: x\r\n\r\n' | raw 127.0.0.1 80)
[[ "$out" == "HTTP/1.1 400 Bad Request"*"Error 400: Bad Request"$'\n'"Can not parse request: []" ]] || fail "DELETE: $out"
out=$(printf 'GET / HTTP/2.0\r\n\r\n' | raw 127.0.0.1 80)
[[ "$out" == "HTTP/1.1 505 HTTP version not supported"* ]] || fail "HTTP/2.0: $out"
out=$(printf 'GET / HTTX\r\n\r\n' | raw 127.0.0.1 80)
[[ "$out" == "HTTP/1.1 505"* ]] || fail "bad version: $out"
size=$(stat -c %s "$HT/login.asp")
out=$(printf 'HEAD /login.asp HTTP/1.0\r\n\r\n' | raw 127.0.0.1 80)
[[ "$out" == *"Content-Length: $size"$'\r\n\r' ]] || fail "HEAD: $out"
out=$(printf 'PUT /x HTTP/1.1\r\nContent-Length: 0\r\n\r\n' | raw 127.0.0.1 80 2)
[ -z "$out" ] || fail "PUT was answered: $out"

# --- HTTPS: TLS 1.2 only, the Secure cookie, a large file whole.
echo | openssl s_client -connect 127.0.0.1:443 -tls1_2 2>&1 | has "Protocol  *: TLSv1.2" || fail "no TLS 1.2 handshake"
echo | openssl s_client -connect 127.0.0.1:443 -tls1_3 2>&1 | has "Protocol  *: TLSv1.3" && fail "TLS 1.3 was accepted"
head=$(login_head "$S" admin quillbox)
[[ "$head" == *"; Secure; HttpOnly"* ]] || fail "TLS login cookie: $head"
head -c 12000000 /dev/urandom > "$HT/big.bin"
want=$(sha256sum < "$HT/big.bin" | cut -c1-64)
# Several at once: the pump serves them side by side, each whole.
dl=()
for i in 1 2 3 4; do "${CURL[@]}" -o "$VELLMAR_DIR/got$i" "$S/big.bin" & dl+=($!); done
for i in 1 2 3 4; do wait "${dl[$((i - 1))]}" || fail "HTTPS download $i ended early"; done
for i in 1 2 3 4; do
  [ "$(sha256sum < "$VELLMAR_DIR/got$i" | cut -c1-64)" = "$want" ] || fail "large file $i over HTTPS differs"
done
got=$("${CURL[@]}" "$H/big.bin" | sha256sum | cut -c1-64)
[ "$got" = "$(sha256sum < "$HT/big.bin" | cut -c1-64)" ] || fail "large file over HTTP differs"

# --- Forced HTTPS: a missing page on plain HTTP goes to the HTTPS port.
login "$H" admin quillbox
tok=$(token "$H" /en/sys_web.asp)
"${CURL[@]}" -o /dev/null -b "$COOKIE" --data "SYS_UCTOKEN=$tok&WEB_FORCEHTTPS=1&WEB_REFRESH=10" "$H/orvik/sys_web"
grep -q "^Force HTTPS=Yes" "$INI" || fail "force HTTPS not saved"
h=$("${CURL[@]}" -D - -o /dev/null "$H/?a=1")
[ "$(location "$h")" = "https://127.0.0.1:443/?a=1" ] || fail "HTTPS redirect: $h"

# --- Login lock: the third wrong password locks, then even the right one is refused.
for i in 1 2 3; do h=$(login_head "$S" device wrongpass); done
[ "$(message_title "$S")" = "Login Lock" ] || fail "no lock after three failures"
log_has "device" || fail "lock not logged"
h=$(login_head "$S" device quillbox)
[[ "$h" != *Set-Cookie* ]] && [ "$(message_title "$S")" = "Login Lock" ] || fail "a locked account logged in"

# --- Web settings: a new certificate and a new HTTP port. The listeners restart, so the posting
# request itself gets no answer; then the new port serves and HTTPS shows the new certificate.
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=uploaded.test" -days 2 \
  -keyout "$VELLMAR_DIR/up.key" -out "$VELLMAR_DIR/up.crt" 2>/dev/null || fail "openssl req"
cat "$VELLMAR_DIR/up.crt" "$VELLMAR_DIR/up.key" > "$VELLMAR_DIR/up.pem"
tok=$(token "$H" /en/sys_web.asp)
code=0
"${CURL[@]}" -o /dev/null -b "$COOKIE" -F "SYS_UCTOKEN=$tok" -F "WEB_HTTP_PORT=8081" -F "WEB_REFRESH=10" \
  -F "WEB_SSLCERT=@$VELLMAR_DIR/up.pem" "$H/orvik/sys_web" || code=$?
[ "$code" = 52 ] || fail "the post that restarts the listeners was answered (curl $code)"
# The connection ends when the listeners stop; saving and reopening follow.
wait_for "new HTTP port saved" 10 grep -q "^HTTP Port=8081" "$INI"
cmp -s "$VELLMAR_DIR/up.pem" "$VELLMAR_DIR/httpd/cert_web.pem" || fail "uploaded certificate not stored"
new_port_serves() { "${CURL[@]}" http://127.0.0.1:8081/template.css | has login-box; }
wait_for "the new HTTP port serves" 10 new_port_serves
echo | openssl s_client -connect 127.0.0.1:443 -tls1_2 2>/dev/null | has "CN *= *uploaded.test" \
  || fail "HTTPS does not use the uploaded certificate"

vellmar_stop
