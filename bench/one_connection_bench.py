#!/usr/bin/env python3
"""Measures runs against a server that serves one connection at a time.

A single-threaded HTTP/1.1 keep-alive server (Python's http.server, no threads) serves a
tree of 604 small files on 127.0.0.1: while one connection is open, every other waits in the
listen queue without an answer, as with a server or a limit on the way that allows one
connection per client. KestrelSync runs with CONNECTIONS=1 and CONNECTIONS=8, cold (an empty
folder) and no-op, with a list that carries time and size (only the downloads' connections
are tried) and with one that does not (the pipelined HEADs are tried first). The runs are
interleaved, three rounds; the median is shown with the ratio to the one-connection run.
"""
import http.server
import os
import random
import shutil
import statistics
import subprocess
import sys
import threading
import time

FILES = 604
SHIFT = 32400  # the updater keeps server times as UTC+9 wall-clock text


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True  # the head and the body go in separate writes

    def log_message(self, *args):
        pass


def make_tree(tree):
    rng = random.Random(604)
    names = []
    for i in range(FILES):
        rel = f"d{i % 8}/f{i:04d}.bin"
        path = os.path.join(tree, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(rng.randbytes(rng.randint(200, 20000)))
        os.utime(path, (1765000000, 1765000000))
        names.append(rel)
    with open(os.path.join(tree, "_list_plain.txt"), "w") as f:
        for rel in names:
            f.write(f"{rel},{rel.replace('/', chr(92))}\n")
    with open(os.path.join(tree, "_list_listed.txt"), "w") as f:
        for rel in names:
            size = os.path.getsize(os.path.join(tree, rel))
            stamp = time.strftime("%Y%m%d%H%M%S", time.gmtime(1765000000 + SHIFT))
            f.write(f"{rel},{rel.replace('/', chr(92))},APP,FILE,{stamp},{size}\n")


def prepare(exe, dest, port, list_name, connections):
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(os.path.join(dest, "config"))
    shutil.copy(exe, dest)
    with open(os.path.join(dest, "config/KestrelSync.ini"), "w") as f:
        f.write(f"[VENTO]\nSVR_IP_ADDR=127.0.0.1\nSVR_PORT_NO={port}\nDOWNLOAD_BASE_URL=tree\n"
                f"LIST_FILE_NAME={list_name}\nTIME_CHECK_SPAN=5\nCONNECTIONS={connections}\n")


def run(dest, env):
    start = time.monotonic()
    subprocess.run([os.path.join(dest, "KestrelSync")], cwd=dest, env=env, timeout=600,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    return time.monotonic() - start


def main():
    repo, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    tree = os.path.join(work, "served", "tree")
    os.makedirs(tree)
    make_tree(tree)
    os.chdir(os.path.join(work, "served"))
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    server.handle_error = lambda request, address: None  # a client that hung up
    threading.Thread(target=server.serve_forever, daemon=True).start()
    port = server.server_address[1]
    exe = os.path.join(repo, "build/native-release/src/KestrelSync")
    prefix = os.path.join(work, "wine")
    os.makedirs(os.path.join(prefix, "drive_c/windows/system32"), exist_ok=True)
    env = dict(os.environ, WINEPREFIX=prefix, TZ="UTC0", XDG_DATA_HOME=os.path.join(work, "xdg"))
    rows = [(lst, n) for lst in ("listed", "plain") for n in (1, 8)]
    times = {(lst, n, s): [] for lst, n in rows for s in ("cold", "noop")}
    for _ in range(3):
        for lst, n in rows:
            dest = os.path.join(work, "dest", f"{lst}-{n}")
            prepare(exe, dest, port, f"_list_{lst}.txt", n)
            times[(lst, n, "cold")].append(run(dest, env))
            times[(lst, n, "noop")].append(run(dest, env))
            missing = [r for r in os.listdir(os.path.join(tree, "d0"))
                       if not os.path.exists(os.path.join(dest, "d0", r))]
            if missing:
                sys.exit(f"{lst}-{n}: {len(missing)} files of d0 not installed")
    server.shutdown()
    print(f"{'list':<7} {'CONNECTIONS':>11} {'cold s':>7} {'no-op s':>8}  ratio to 1 connection")
    for lst, n in rows:
        cold = statistics.median(times[(lst, n, "cold")])
        noop = statistics.median(times[(lst, n, "noop")])
        base_cold = statistics.median(times[(lst, 1, "cold")])
        base_noop = statistics.median(times[(lst, 1, "noop")])
        print(f"{lst:<7} {n:>11} {cold:7.2f} {noop:8.2f}  cold {cold / base_cold:.2f}x, "
              f"no-op {noop / base_noop:.2f}x")


if __name__ == "__main__":
    main()
