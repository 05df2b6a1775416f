#!/usr/bin/env bash
# Web serving against nginx (one worker, as the service has one thread), both in the same run in
# a network namespace of their own: requests per second and CPU time per request for a static
# file (/template.css) and a template page (/login.asp, rendered by Brevanta, a plain file to
# nginx), over HTTP and HTTPS (TLS 1.2, the same certificate, a full handshake per connection),
# with 8 and with 32 clients, one request per connection. The clients' connections come from
# 127.0.0.2-5 in turn (bench/web_load.cpp), so no address holds more than 8 of 32. Each case runs
# RUNS times; in a run the two servers take turns in chunks of CHUNK requests until each has
# served REQUESTS. A line per case gives the medians and the ratios, and a warning when the runs
# of a figure differ by more than 20 % of its median.
# Usage: bench/web_vs_nginx.sh   (BREVANTA defaults to build/normal/Brevanta, WEB_LOAD to
# build/normal/bench/web_load; REQUESTS=20000 RUNS=3 CHUNK=2000)
root=$(cd "$(dirname "$0")/.." && pwd)
# The peer is installed before the script enters its namespace, which has no network.
if [ -z "${VELLMAR_IN_NETNS:-}" ] && ! command -v nginx >/dev/null && ! [ -x /usr/sbin/nginx ]; then
  apt-get install -y nginx >/dev/null || { echo "nginx could not be installed" >&2; exit 1; }
fi
export VELLMAR_SOURCE_DIR=${VELLMAR_SOURCE_DIR:-$root}
export BREVANTA=${BREVANTA:-$root/build/normal/Brevanta}
export WEB_LOAD=${WEB_LOAD:-$root/build/normal/bench/web_load}
source "$root/tests/system/lib.sh"
source "$root/tests/system/web_lib.sh"
source "$root/bench/lib.sh"
trap - ERR

NGINX=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$WEB_LOAD" ] || fail "the load client $WEB_LOAD is missing (ninja -C build/normal web_load)"
REQUESTS=${REQUESTS:-20000}
RUNS=${RUNS:-3}
CHUNK=${CHUNK:-2000}
for a in 2 3 4 5; do ip addr add 127.0.0.$a/8 dev lo; done

vellmar_install "$WEB_INI"
web_start
NG="$VELLMAR_DIR/nginx"
mkdir -p "$NG/logs" "$NG/tmp"
cat > "$NG/nginx.conf" <<CONF
worker_processes 1;
user root root;  # the namespace maps only root
pid $NG/nginx.pid;
error_log $NG/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  keepalive_timeout 0;
  client_body_temp_path $NG/tmp;
  proxy_temp_path $NG/tmp;
  fastcgi_temp_path $NG/tmp;
  uwsgi_temp_path $NG/tmp;
  scgi_temp_path $NG/tmp;
  types { text/css css; text/html asp; }
  server {
    listen 8080 backlog=4096;
    listen 8443 ssl backlog=4096;
    ssl_certificate $VELLMAR_DIR/httpd/cert_web.pem;
    ssl_certificate_key $VELLMAR_DIR/httpd/cert_web.pem;
    ssl_protocols TLSv1.2;
    ssl_session_cache off;
    ssl_session_tickets off;
    root $VELLMAR_DIR/httpd/htdocs;
  }
}
CONF
"$NGINX" -c "$NG/nginx.conf" -p "$NG" || fail "nginx did not start"
wait_for "nginx" 10 test -s "$NG/nginx.pid"
NGINX_MASTER=$(cat "$NG/nginx.pid")
VELLMAR_PIDS+=("$NGINX_MASTER" $(pgrep -P "$NGINX_MASTER"))   # a failed run leaves no worker behind
nginx_pids() { echo "$NGINX_MASTER" $(pgrep -P "$NGINX_MASTER"); }


# chunk SCHEME PORT PATH CLIENTS COUNT PIDS...: "requests failed seconds cpu_ns" of one chunk.
chunk() {
  local scheme=$1 port=$2 path=$3 clients=$4 count=$5 c0 c1 out
  shift 5
  c0=$(cpu_ns "$@")
  out=$("$WEB_LOAD" "$scheme" "$port" "$path" "$clients" "$count")
  c1=$(cpu_ns "$@")
  echo "$out $((c1 - c0))"
}

# One run of a case: the servers take turns; prints "b_rps b_us n_rps n_us failed_b failed_n".
run_case() {
  local scheme=$1 path=$2 clients=$3 bport nport done_ n
  if [ "$scheme" = http ]; then bport=80; nport=8080; else bport=443; nport=8443; fi
  : > "$VELLMAR_DIR/chunks"
  for ((done_ = 0; done_ < REQUESTS; done_ += CHUNK)); do
    n=$((REQUESTS - done_ < CHUNK ? REQUESTS - done_ : CHUNK))
    echo "b $(chunk "$scheme" "$bport" "$path" "$clients" "$n" "$VELLMAR_PID")" >> "$VELLMAR_DIR/chunks"
    echo "n $(chunk "$scheme" "$nport" "$path" "$clients" "$n" $(nginx_pids))" >> "$VELLMAR_DIR/chunks"
  done
  awk '{ r[$1] += $2; f[$1] += $3; s[$1] += $4; c[$1] += $5 }
       END { br = r["b"] / s["b"]; bu = c["b"] / r["b"] / 1000; nr = r["n"] / s["n"]; nu = c["n"] / r["n"] / 1000
             printf "%.0f %.1f %.0f %.1f %d %d\n", br, bu, nr, nu, f["b"], f["n"] }' "$VELLMAR_DIR/chunks"
}


echo "$REQUESTS requests per server per run, $RUNS runs, turns of $CHUNK; clients bound to 127.0.0.2-5"
declare -A NGINX_STATIC_US
for clients in 8 32; do
  for kind in "static /template.css" "template /login.asp"; do
    set -- $kind
    name=$1 path=$2
    for scheme in http https; do
      brps=() bus=() nrps=() nus=() fails=0
      for ((r = 0; r < RUNS; r++)); do
        read -r a b c d fb fn <<<"$(run_case "$scheme" "$path" "$clients")"
        brps+=("$a") bus+=("$b") nrps+=("$c") nus+=("$d")
        fails=$((fails + fb + fn))
      done
      label="$name $scheme, $clients clients"
      read -r BR BRs <<<"$(median_spread "${brps[@]}")"
      read -r BU BUs <<<"$(median_spread "${bus[@]}")"
      read -r NR NRs <<<"$(median_spread "${nrps[@]}")"
      read -r NU NUs <<<"$(median_spread "${nus[@]}")"
      [ "$name" = static ] && NGINX_STATIC_US["$scheme $clients"]=$NU
      extra=""
      if [ "$name" = template ]; then
        extra=$(awk -v b="$BU" -v s="${NGINX_STATIC_US["$scheme $clients"]:-0}" \
          'BEGIN { if (s > 0) printf "; Brevanta CPU / nginx static CPU %.2f", b / s }')
      fi
      awk -v l="$label" -v br="$BR" -v nr="$NR" -v bu="$BU" -v nu="$NU" -v x="$extra" -v f="$fails" 'BEGIN {
        printf "%-28s req/s Brevanta %6.0f nginx %6.0f ratio %.2f | CPU us/req Brevanta %6.1f nginx %6.1f ratio %.2f%s%s\n",
               l ":", br, nr, (nr > 0 ? br / nr : 0), bu, nu, (nu > 0 ? bu / nu : 0), x, (f > 0 ? " (" f " failed)" : "") }'
      spread_warning "$label, Brevanta req/s" "$BRs"
      spread_warning "$label, Brevanta CPU" "$BUs"
      spread_warning "$label, nginx req/s" "$NRs"
      spread_warning "$label, nginx CPU" "$NUs"
    done
  done
done
for w in "${warnings[@]}"; do echo "$w"; done

kill -TERM "$NGINX_MASTER" 2>/dev/null || true
vellmar_stop
