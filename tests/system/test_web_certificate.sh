#!/usr/bin/env bash
# Certificates of the HTTPS side: httpd/cert.pem is copied to cert_web.pem when that is missing; a
# file without a usable certificate or key is logged, HTTP keeps working and HTTPS handshakes fail.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/web_lib.sh"

vellmar_install "$WEB_INI"
CERT="$VELLMAR_DIR/httpd/cert.pem"
openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=installed.test" -days 2 -keyout "$VELLMAR_DIR/k.pem" \
  -out "$VELLMAR_DIR/c.pem" 2>/dev/null || fail "openssl req"
cat "$VELLMAR_DIR/c.pem" "$VELLMAR_DIR/k.pem" > "$CERT"
web_start
cmp -s "$CERT" "$VELLMAR_DIR/httpd/cert_web.pem" || fail "cert.pem was not copied to cert_web.pem"
echo | openssl s_client -connect 127.0.0.1:443 -tls1_2 2>/dev/null | has "CN *= *installed.test" \
  || fail "HTTPS does not use the installed certificate"
vellmar_stop

# A certificate without its key, then no certificate at all.
for broken in "$VELLMAR_DIR/c.pem" /dev/null; do
  rm -f "$VELLMAR_DIR/_FILE_LOG.TXT"
  cp "$broken" "$VELLMAR_DIR/httpd/cert_web.pem"
  web_start
  if [ "$broken" = /dev/null ]; then text="SSL: Failed to load cert file."; else text="SSL: Failed to load key file."; fi
  wait_for "event '$text'" 15 log_has "$text"
  "${CURL[@]}" http://127.0.0.1/template.css | has login-box || fail "HTTP stopped with a broken certificate"
  code=0
  "${CURL[@]}" -o /dev/null https://127.0.0.1/template.css || code=$?
  [ "$code" != 0 ] || fail "HTTPS answered without a usable certificate"
  vellmar_stop
done
