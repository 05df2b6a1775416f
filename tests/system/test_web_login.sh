#!/usr/bin/env bash
# Logins against curl from several client addresses: an outsider's failed logins lock the account
# for the outsider's address only, many addresses of one network asking for login challenges leave
# the administrator's challenge alone, and the message page shows each client its own reply. Also
# the event log (account names, addresses) readable by its owner only.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/web_lib.sh"

vellmar_install "$WEB_INI"
# A log of an older build, readable by everyone: the start makes it the owner's only.
printf '0.0.0.0 0 01/02/2024 03:04:05 older line\r\n' > "$VELLMAR_DIR/_FILE_LOG.TXT"
chmod 0644 "$VELLMAR_DIR/_FILE_LOG.TXT"
H=http://127.0.0.1
web_start
[ "$(stat -c %a "$VELLMAR_DIR/_FILE_LOG.TXT")" = 600 ] || fail "the event log is readable by others"

OUT=127.0.0.9
# from ADDRESS CURL-ARGS...: curl from that client address.
from() {
  local address=$1
  shift
  "${CURL[@]}" --interface "$address" "$@"
}
# login_from ADDRESS USER PASSWORD: the login answer's head for a client at that address.
login_from() {
  local ch
  ch=$(from "$1" "$H/login.asp" | sed -n 's/.*id="challenge" value="\([^"]*\)".*/\1/p')
  [ -n "$ch" ] || fail "no challenge for $1"
  from "$1" -D - -o /dev/null --data-urlencode "Username=$2" --data "Response=$(md5hex "$2$3$ch")" "$H/orvik/login"
}
title_from() { from "$1" "$H/message.asp" | sed -n 's/.*<h1 id="title">\(.*\)<\/h1>.*/\1/p'; }

# --- The outsider's failures lock the administrator out of the outsider's address only.
for i in 1 2 3; do login_from "$OUT" admin "guess$i" >/dev/null; done
[ "$(title_from "$OUT")" = "Login Lock" ] || fail "no lock after the outsider's third failure: $(title_from "$OUT")"
h=$(login_from "$OUT" admin quillbox)
[[ "$h" != *Set-Cookie* ]] || fail "the outsider's address is not locked"
[ -z "$(title_from 127.0.0.1)" ] || fail "the administrator is shown the outsider's reply: $(title_from 127.0.0.1)"
h=$(login_from 127.0.0.1 admin quillbox)
[[ "$h" == *"Set-Cookie: Vellmar="* ]] || fail "the administrator is locked out by the outsider: $h"
log_has "Web login accepted: account admin from 127.0.0.1" || fail "the administrator's login is not logged"

# --- Login challenges: 40 addresses of another network ask in turn, twice; the administrator's
# challenge, issued before them, still logs in.
for i in $(seq 1 40); do ip addr add "192.0.2.$i/32" dev lo; done
ch=$(from 127.0.0.1 "$H/login.asp" | sed -n 's/.*id="challenge" value="\([^"]*\)".*/\1/p')
[ -n "$ch" ] || fail "no challenge for the administrator"
for round in 1 2; do
  for i in $(seq 1 40); do from "192.0.2.$i" -o /dev/null "$H/login.asp"; done
done
h=$(from 127.0.0.1 -D - -o /dev/null --data "Username=admin" --data "Response=$(md5hex "adminquillbox$ch")" "$H/orvik/login")
[[ "$h" == *"Set-Cookie: Vellmar="* ]] || fail "the administrator's challenge was taken: $h $(title_from 127.0.0.1)"

# --- The message page: a session's reply is its own; a reply without a session its address's.
COOKIE=$(sed -n 's/^Set-Cookie: \(Vellmar=[^;]*\);.*/\1/p' <<<"$h")
tok=$(token "$H" /en/sys_info.asp)
"${CURL[@]}" -o /dev/null -b "$COOKIE" --data "SYS_UCTOKEN=$tok&INF_NAME=Rack+5" "$H/orvik/sys_info"
[ "$(message_title "$H")" = "Information" ] || fail "the session's reply: $(message_title "$H")"
[ -z "$(title_from 127.0.0.1)" ] || fail "a session's reply is shown without its cookie"
[ "$(title_from "$OUT")" = "Login Lock" ] || fail "the outsider's own reply is gone: $(title_from "$OUT")"

vellmar_stop
echo "ok"
