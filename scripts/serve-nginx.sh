#!/usr/bin/env bash
# Serves a folder with nginx on 127.0.0.1 and a free port, as an unprivileged helper for the
# demo, the tests and the benchmark. Keep-alive is generous so that one connection can carry a
# whole run.
#   serve-nginx.sh start <root> <work-dir>   starts nginx; prints the port; <work-dir>/port
#   serve-nginx.sh stop <work-dir>           stops it
# When nginx is not installed, start writes <work-dir>/unavailable and exits 0.
# KS_NGINX_AUTOINDEX=1 adds directory listings (for mirroring tools); KS_NGINX_LIMIT_RATE=100k
# slows every response down (to watch a run). KS_NGINX_TLS_DIR=<dir> also serves the root over
# HTTPS with the certificates <dir>/<name>.crt and .key of localhost, otherhost and untrusted,
# each on a port of its own (<work-dir>/port-<name>).
# access.log lines: connection number, request number on it, method, "URI", status, bytes.
set -euo pipefail
cmd=${1:-}
case "$cmd" in
start)
    mkdir -p "$2"
    root=$(cd "$2" && pwd)
    work=$3
    mkdir -p "$work/tmp"
    work=$(cd "$work" && pwd)
    rm -f "$work/unavailable" "$work/port" "$work/port-"* "$work/access.log"
    nginx=$(command -v nginx || echo /usr/sbin/nginx)
    if [ ! -x "$nginx" ]; then
        echo "nginx is not installed" >"$work/unavailable"
        echo "nginx is not installed" >&2
        exit 0
    fi
    free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
    port=$(free_port)
    tls=""
    if [ -n "${KS_NGINX_TLS_DIR:-}" ]; then
        for name in localhost otherhost untrusted; do
            p=$(free_port)
            echo "$p" >"$work/port-$name"
            tls+="server { listen 127.0.0.1:$p ssl; ssl_certificate $KS_NGINX_TLS_DIR/$name.crt; ssl_certificate_key $KS_NGINX_TLS_DIR/$name.key; root $root; }
"
        done
    fi
    cat >"$work/nginx.conf" <<CONF
user $(id -un) $(id -gn);
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 512; }
http {
    log_format ks '\$connection \$connection_requests \$request_method "\$request_uri" \$status \$body_bytes_sent';
    access_log $work/access.log ks;
    keepalive_requests 1000000;
    keepalive_timeout 120s;
    sendfile on;
    default_type application/octet-stream;
    client_body_temp_path $work/tmp/client;
    proxy_temp_path $work/tmp/proxy;
    fastcgi_temp_path $work/tmp/fastcgi;
    uwsgi_temp_path $work/tmp/uwsgi;
    scgi_temp_path $work/tmp/scgi;
    server {
        listen 127.0.0.1:$port;
        root $root;
        location / { ${KS_NGINX_AUTOINDEX:+autoindex on;} ${KS_NGINX_LIMIT_RATE:+limit_rate $KS_NGINX_LIMIT_RATE;} }
    }
    $tls
}
CONF
    "$nginx" -e "$work/error.log" -p "$work" -c "$work/nginx.conf" 2>>"$work/error.log"
    for _ in $(seq 1 100); do
        [ -s "$work/nginx.pid" ] && break
        sleep 0.05
    done
    echo "$port" >"$work/port"
    echo "$port"
    ;;
stop)
    work=$2
    if [ -s "$work/nginx.pid" ]; then
        kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
        for _ in $(seq 1 100); do
            [ -e "$work/nginx.pid" ] || break
            sleep 0.05
        done
    fi
    ;;
*)
    echo "usage: $0 start <root> <work-dir> | stop <work-dir>" >&2
    exit 2
    ;;
esac
