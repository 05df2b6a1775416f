#!/usr/bin/env bash
# Web serving cost against nginx: requests per second and CPU time per request for a static file
# (/template.css) and a template page (/login.asp, rendered by Brevanta, a plain file to nginx),
# over HTTP and HTTPS (TLS 1.2, the same certificate), one connection per request (ab without
# keep-alive; nginx with keepalive_timeout 0), both servers in the same run in a network namespace.
# Usage: bench/web_vs_nginx.sh   (BREVANTA defaults to build/normal/Brevanta; REQUESTS, CLIENTS)
root=$(cd "$(dirname "$0")/.." && pwd)
export VELLMAR_SOURCE_DIR=${VELLMAR_SOURCE_DIR:-$root}
export BREVANTA=${BREVANTA:-$root/build/normal/Brevanta}
source "$root/tests/system/lib.sh"
source "$root/tests/system/web_lib.sh"

command -v nginx >/dev/null || fail "nginx is missing (scripts/deps.sh)"
command -v ab >/dev/null || fail "ab is missing (scripts/deps.sh)"
REQUESTS=${REQUESTS:-2000}
CLIENTS=${CLIENTS:-8}

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
    listen 8080;
    listen 8443 ssl;
    ssl_certificate $VELLMAR_DIR/httpd/cert_web.pem;
    ssl_certificate_key $VELLMAR_DIR/httpd/cert_web.pem;
    ssl_protocols TLSv1.2;
    root $VELLMAR_DIR/httpd/htdocs;
  }
}
CONF
nginx -c "$NG/nginx.conf" -p "$NG" || fail "nginx did not start"
wait_for "nginx" 10 test -s "$NG/nginx.pid"
NGINX_MASTER=$(cat "$NG/nginx.pid")
VELLMAR_PIDS+=("$NGINX_MASTER")
nginx_pids() { echo "$NGINX_MASTER" $(pgrep -P "$NGINX_MASTER"); }

# CPU time in ns of the processes (all their threads).
cpu_ns() { for p in "$@"; do cat /proc/"$p"/task/*/schedstat; done | awk '{s += $1} END {printf "%.0f", s}'; }
now_ns() { date +%s%N; }

# Idle cost per second of each server, to take off what the run's length alone costs.
i0=$(now_ns); b0=$(cpu_ns "$VELLMAR_PID"); n0=$(cpu_ns $(nginx_pids))
sleep 5
i1=$(now_ns); b1=$(cpu_ns "$VELLMAR_PID"); n1=$(cpu_ns $(nginx_pids))
B_IDLE=$(( (b1 - b0) * 1000000000 / (i1 - i0) ))
N_IDLE=$(( (n1 - n0) * 1000000000 / (i1 - i0) ))

# run NAME URL PIDS...: prints "rps cpu_us_per_request failed".
run() {
  local url=$1
  shift
  local t0 c0 t1 c1 out rps failed tls=()
  [[ "$url" == https* ]] && tls=(-f TLS1.2)
  t0=$(now_ns); c0=$(cpu_ns "$@")
  out=$(ab -q -n "$REQUESTS" -c "$CLIENTS" "${tls[@]}" "$url" 2>&1)
  t1=$(now_ns); c1=$(cpu_ns "$@")
  rps=$(awk '/Requests per second/ {print $4}' <<<"$out")
  failed=$(awk '/Failed requests/ {print $3}' <<<"$out")
  [ -n "${BENCH_DEBUG:-}" ] && echo "debug: $url pids $* cpu $c0 -> $c1" >&2
  echo "$rps $(( (c1 - c0) / REQUESTS / 1000 )) $(( t1 - t0 )) ${failed:-?}"
}

printf '%-22s %-9s %10s %14s %14s %7s\n' case server "req/s" "cpu us/req" "above idle" failed
for kind in "static /template.css" "template /login.asp"; do
  set -- $kind
  for scheme in http https; do
    if [ $scheme = http ]; then bport=80; nport=8080; else bport=443; nport=8443; fi
    read -r brps bcpu bns bfail <<<"$(run "$scheme://127.0.0.1:$bport$2" "$VELLMAR_PID")"
    read -r nrps ncpu nns nfail <<<"$(run "$scheme://127.0.0.1:$nport$2" $(nginx_pids))"
    babove=$(( bcpu - B_IDLE * bns / 1000000000 / REQUESTS / 1000 ))
    nabove=$(( ncpu - N_IDLE * nns / 1000000000 / REQUESTS / 1000 ))
    printf '%-22s %-9s %10s %14s %14s %7s\n' "$1 $scheme" Brevanta "$brps" "$bcpu" "$babove" "$bfail"
    printf '%-22s %-9s %10s %14s %14s %7s\n' "" nginx "$nrps" "$ncpu" "$nabove" "$nfail"
    awk -v b="$babove" -v n="$nabove" 'BEGIN { if (n > 0) printf "%-22s ratio Brevanta / nginx CPU per request: %.2f\n", "", b / n }'
  done
done
echo
echo "idle cost: Brevanta $((B_IDLE / 1000)) us/s (the service's timers), nginx $((N_IDLE / 1000)) us/s"
echo "send pump: a response leaves at the next 10-ms tick, one send call per slot per tick, so each"
echo "connection waits 5 ms on average and at most 100 responses/s leave one slot; 32 slots admit"
echo "3200 responses/s at most, fewer when a tick's work takes longer."
kill -TERM "$NGINX_MASTER" 2>/dev/null || true
vellmar_stop
