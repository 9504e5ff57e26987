#!/usr/bin/env bash
# The portal behind nginx on 127.0.0.1, with the example site the README
# shows (dist/portal/nginx-site.conf), over HTTP and TLS: nginx sets
# X-Forwarded-For from the address it sees, the portal trusts 127.0.0.1 to
# tell it. Two clients (127.0.0.2 and 127.0.0.3, the client socket bound to
# each) keep two buckets; a client cannot get a fresh bucket by sending its
# own X-Forwarded-For; without --trust-proxy everyone shares nginx's bucket.
# Usage: portal_behind_nginx.sh PORTAL WORKDIR
set -euo pipefail
portal=$1 work=$2
skip() { echo "portal_behind_nginx: SKIP: $*" >&2; exit 77; }
fail() { echo "portal_behind_nginx: FAIL: $*" >&2; exit 1; }
nginx=$(command -v nginx || ls /usr/sbin/nginx 2>/dev/null) || skip "nginx is missing (scripts/deps)"
command -v curl >/dev/null || skip "curl is missing (scripts/deps)"
rm -rf "$work" && mkdir -p "$work/tmp"
chmod 755 "$work" "$work/tmp"
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT

# A portal on a free port (in $port); its bucket holds two requests and
# refills slowly.
start_portal() { # NAME OPTIONS...
  local name=$1
  port=""
  shift
  "$portal" --listen 127.0.0.1:0 --db "sqlite:$work/$name.db" --burst 2 --rate 0.01 "$@" \
    >/dev/null 2>"$work/$name.log" &
  pids+=($!)
  for _ in $(seq 100); do
    port=$(sed -n 's|.*listening on http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/$name.log")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { cat "$work/$name.log" >&2; fail "the portal did not start"; }
}

# nginx in front with the example site of dist/portal/nginx-site.conf, made
# to listen on 127.0.0.1 only (ports in $port and $tls, found in a few
# tries), with a certificate of our own.
site=$(cd "$(dirname "$0")/../../dist/portal" && pwd)/nginx-site.conf
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -keyout "$work/key.pem" -out "$work/cert.pem" \
  >/dev/null 2>&1 || skip "openssl cannot make a certificate"
start_nginx() { # UPSTREAM_PORT NAME
  local upstream=$1 name=$2 conf=$work/$2.conf
  for _ in 1 2 3 4 5 6 7 8; do
    port=$((20000 + RANDOM % 30000))
    tls=$((port + 1))
    {
      cat <<EOF
daemon off;
worker_processes 1;
pid $work/$name.pid;
error_log $work/$name-error.log warn;
events { worker_connections 64; }
http {
  access_log $work/$name-access.log;
  client_body_temp_path $work/tmp/body;
  proxy_temp_path $work/tmp/proxy;
  fastcgi_temp_path $work/tmp/fastcgi;
  uwsgi_temp_path $work/tmp/uwsgi;
  scgi_temp_path $work/tmp/scgi;
EOF
      sed -e "s|127.0.0.1:8080;|127.0.0.1:$upstream;|" -e '/listen \[::\]/d' \
        -e "s|listen 80;|listen 127.0.0.1:$port;|" -e "s|listen 443 ssl;|listen 127.0.0.1:$tls ssl;|" \
        -e "s|ssl_certificate .*|ssl_certificate $work/cert.pem;|" \
        -e "s|ssl_certificate_key .*|ssl_certificate_key $work/key.pem;|" "$site"
      echo "}"
    } >"$conf"
    "$nginx" -e "$work/$name-error.log" -c "$conf" >/dev/null 2>>"$work/$name-error.log" &
    local pid=$!
    for _ in $(seq 50); do
      # Listening is enough: a request would spend a token.
      if (exec 3<>"/dev/tcp/127.0.0.1/$port" 4<>"/dev/tcp/127.0.0.1/$tls") 2>/dev/null && kill -0 "$pid" 2>/dev/null; then
        pids+=($pid)
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  cat "$work/$name-error.log" >&2
  fail "nginx did not start"
}

status() { # FROM PORT [HEADER]
  local args=(-s -o /dev/null -w '%{http_code}' --interface "$1")
  [ $# -lt 3 ] || args+=(-H "$3")
  curl "${args[@]}" "http://127.0.0.1:$2/"
}

rc=0
curl -s -o /dev/null --interface 127.0.0.2 "http://127.0.0.1:1/" 2>/dev/null || rc=$?
[ $rc -ne 45 ] || skip "cannot bind a client socket to 127.0.0.2"

start_portal trusting --trust-proxy 127.0.0.1/32
start_nginx "$port" trusting
trusting=$port
[ "$(status 127.0.0.2 "$trusting")" = 200 ] || fail "first request of 127.0.0.2"
[ "$(status 127.0.0.2 "$trusting")" = 200 ] || fail "second request of 127.0.0.2"
[ "$(status 127.0.0.2 "$trusting")" = 429 ] || fail "127.0.0.2 was not limited"
[ "$(status 127.0.0.2 "$trusting" 'X-Forwarded-For: 127.0.0.9')" = 429 ] ||
  fail "127.0.0.2 escaped its bucket with a made-up X-Forwarded-For"
[ "$(status 127.0.0.3 "$trusting")" = 200 ] || fail "127.0.0.3 shares the bucket of 127.0.0.2"
[ "$(status 127.0.0.3 "$trusting")" = 200 ] || fail "127.0.0.3 lost its second request"
[ "$(status 127.0.0.3 "$trusting")" = 429 ] || fail "127.0.0.3 was not limited"
# Over TLS, a third client has its own bucket too.
[ "$(curl -sk -o /dev/null -w '%{http_code}' --interface 127.0.0.4 "https://localhost:$tls/")" = 200 ] ||
  fail "127.0.0.4 over TLS"
[ "$(curl -sk -o /dev/null -w '%{http_code}' --interface 127.0.0.4 "https://localhost:$tls/")" = 200 ] ||
  fail "127.0.0.4 over TLS, second request"
[ "$(curl -sk -o /dev/null -w '%{http_code}' --interface 127.0.0.4 "https://localhost:$tls/")" = 429 ] ||
  fail "127.0.0.4 over TLS was not limited"
# The refusal through nginx still says when to come back.
curl -s -D "$work/headers" -o /dev/null --interface 127.0.0.3 "http://127.0.0.1:$trusting/"
grep -qi '^Retry-After: [1-9][0-9]*' "$work/headers" || { cat "$work/headers" >&2; fail "no Retry-After"; }

# The same without --trust-proxy: the portal sees only nginx.
start_portal plain
start_nginx "$port" plain
plain=$port
[ "$(status 127.0.0.2 "$plain")" = 200 ] || fail "plain: first request"
[ "$(status 127.0.0.3 "$plain")" = 200 ] || fail "plain: second request"
[ "$(status 127.0.0.2 "$plain")" = 429 ] || fail "plain: the proxy's bucket was not shared"
echo "portal_behind_nginx: two clients through nginx kept two buckets"
