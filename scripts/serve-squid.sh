#!/usr/bin/env bash
# Starts two squid proxies on 127.0.0.1 and free ports for the tests, each with its own
# configuration, no cache and its logs in the work folder: an open one and one that asks for
# Basic authentication (a test user with a password made here).
#   serve-squid.sh start <work-dir>   <work-dir>/port-open, port-auth, port-closed (nothing
#                                     listens there), user, password,
#                                     open/access.log, auth/access.log
#   serve-squid.sh stop <work-dir>
# When squid cannot run, start writes the reason to <work-dir>/unavailable and exits 0.
# access.log lines: method, URL, status, user ("-" without one). The open proxy refuses (403)
# every path that holds "ks-proxy-refused".
# The names kestrel-proxy.test, open.kestrel-proxy.test, auth.kestrel-proxy.test and
# otherhost.example (the name of the test PKI's "otherhost" certificate) are 127.0.0.1 for the
# proxies only (their hosts file): a request for one of them that arrives went through a proxy.
set -euo pipefail
cmd=${1:-}

unavailable() {
    echo "$1" >"$work/unavailable"
    echo "$1" >&2
    exit 0
}

write_conf() { # <name> <port> <extra access rules>
    local dir="$run/$1"
    mkdir -p "$dir"
    cat >"$dir/squid.conf" <<CONF
http_port 127.0.0.1:$2
pid_filename $dir/squid.pid
cache deny all
cache_mem 8 MB
cache_dir null /tmp
logformat ks %rm %ru %>Hs %[un
access_log stdio:$dir/access.log ks
cache_log $dir/cache.log
cache_store_log none
coredump_dir $dir
netdb_filename none
shutdown_lifetime 0 seconds
pinger_enable off
dns_v4_first on
hosts_file $run/hosts
$3
acl to_loopback dst 127.0.0.0/8 ::1
acl SSL_ports port 1-65535
acl CONNECT method CONNECT
http_access deny !to_loopback
CONF
    # Squid refuses to keep running as root: it takes the account Debian made for it.
    if [ "$(id -u)" -eq 0 ]; then
        echo "cache_effective_user proxy" >>"$dir/squid.conf"
    fi
}

start_one() { # <name>
    local dir="$run/$1"
    if [ "$(id -u)" -eq 0 ]; then chown -R proxy "$dir"; fi
    "$squid" -f "$dir/squid.conf" -N >"$dir/stderr.log" 2>&1 &
    for _ in $(seq 1 200); do
        [ -s "$dir/squid.pid" ] && return 0
        kill -0 $! 2>/dev/null || break
        sleep 0.05
    done
    unavailable "squid ($1) did not start: $(tail -n 3 "$dir/cache.log" "$dir/stderr.log" 2>/dev/null | tr '\n' ' ')"
}

case "$cmd" in
start)
    work=$2
    mkdir -p "$work"
    work=$(cd "$work" && pwd)
    if [ -s "$work/run-dir" ]; then rm -rf "$(cat "$work/run-dir")"; fi
    rm -rf "$work/unavailable" "$work/port-"* "$work/open" "$work/auth" "$work/hosts" "$work/run-dir"
    # Squid's own account must reach its files: as root, they live in a folder of their own
    # that it can reach (a work folder below a private one, such as mktemp -d makes, it
    # cannot), linked from the work folder.
    run=$work
    if [ "$(id -u)" -eq 0 ]; then
        run=$(mktemp -d /var/tmp/kestrelsync-squid.XXXXXX)
        chmod 755 "$run"
        echo "$run" >"$work/run-dir"
        mkdir -p "$run/open" "$run/auth"
        touch "$run/hosts"
        for name in open auth hosts; do ln -s "$run/$name" "$work/$name"; done
    fi
    squid=$(command -v squid || echo /usr/sbin/squid)
    ncsa=/usr/lib/squid/basic_ncsa_auth
    [ -x "$squid" ] || unavailable "squid is not installed"
    [ -x "$ncsa" ] || unavailable "squid's basic_ncsa_auth is not installed"
    free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
    user=kstest
    password=$(openssl rand -hex 12)
    printf "127.0.0.1 %s\n" localhost kestrel-proxy.test open.kestrel-proxy.test \
        auth.kestrel-proxy.test otherhost.example >"$run/hosts"
    echo "$user" >"$work/user"
    echo "$password" >"$work/password"
    open_port=$(free_port)
    auth_port=$(free_port)
    write_conf open "$open_port" ""
    mkdir -p "$run/auth"
    echo "$user:$(openssl passwd -apr1 "$password")" >"$run/auth/passwd"
    write_conf auth "$auth_port" "auth_param basic program $ncsa $run/auth/passwd
auth_param basic realm kestrel-test
acl users proxy_auth REQUIRED
http_access deny !users"
    # The open proxy refuses (403) any path that holds "ks-proxy-refused": a proxy's refusal of
    # one file in the middle of a run.
    printf 'acl refused_path urlpath_regex ks-proxy-refused\nhttp_access deny refused_path\n' \
        >>"$work/open/squid.conf"
    echo "http_access allow localhost" >>"$work/open/squid.conf"
    echo "http_access allow users" >>"$work/auth/squid.conf"
    for name in open auth; do echo "http_access deny all" >>"$work/$name/squid.conf"; done
    start_one open
    start_one auth
    # A port where nothing listens: a proxy that gives no answer.
    free_port >"$work/port-closed"
    echo "$open_port" >"$work/port-open"
    echo "$auth_port" >"$work/port-auth"
    echo "$open_port $auth_port"
    ;;
stop)
    work=$2
    for name in open auth; do
        pidfile="$work/$name/squid.pid"
        if [ -s "$pidfile" ]; then
            kill "$(cat "$pidfile")" 2>/dev/null || true
            for _ in $(seq 1 100); do
                [ -e "$pidfile" ] || break
                sleep 0.05
            done
        fi
    done
    ;;
*)
    echo "usage: $0 start <work-dir> | stop <work-dir>" >&2
    exit 2
    ;;
esac
