#!/usr/bin/env python3
"""Measures KestrelSync and established tools keeping a folder in step with an HTTP tree.

Tree: 2,000 files of mixed sizes (about 150 MB), some with Korean names and blanks, served
by nginx on 127.0.0.1 with keep-alive raised so that one connection can carry a whole run.

Scenarios, each timed three times (the median is shown), the tools' runs interleaved (A B C,
A B C, ...) so that a change of the machine's load hits every tool alike:
  cold  - sync into an empty folder
  noop  - sync again with nothing changed
  5pct  - sync after 5% of the files changed on the server (the same files for every tool)
Tools: KestrelSync with a list that carries time and size ("ks-listed"), with one that does
not ("ks-plain"), both also with CONNECTIONS=4 ("ks-listed-4", "ks-plain-4"), and in trusted mode with the list that kestrelsync-publish made and signed
("ks-published": time, size and SHA-256 of every file; every byte hashed while it streams,
staged and applied as one transaction; "ks-published-4" the same with CONNECTIONS=4); wget -N with HEAD then GET
(--no-if-modified-since), wget -N with conditional GET, rclone copy over HTTP and lftp mirror,
where installed. "ks-listed-4+sync" is ks-listed-4 and a sync timed together: the least a run
that leaves its files durable, as trusted mode does, can take on the same path. Before every
run the machine's file systems are flushed (sync, not timed), so that no run pays for writing
what an earlier one left.

For every run: seconds, HTTP requests and connections (nginx's access log), body bytes
served, and the peak resident memory of the tool (GNU time). The floor of the machine is
cat of the whole tree and cp -r of it; the floor of a no-op is curl --version, a process that
loads the libraries KestrelSync loads (libcurl's) and ends, timed as the runs are.
"""
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
import urllib.parse

FILES = 2000
SEED = 20261208
SHIFT = 32400  # the updater keeps server times as UTC+9 wall-clock text


def sh(*args, **kw):
    return subprocess.run(args, check=True, **kw)


def make_tree(root):
    rng = random.Random(SEED)
    names = []
    for i in range(FILES):
        folder = f"d{i % 40:02d}"
        if i % 25 == 0:
            name = f"자료 {i:04d}.bin"
        elif i % 17 == 0:
            name = f"file {i:04d}.dat"
        else:
            name = f"f{i:04d}.bin"
        r = rng.random()
        size = rng.randint(100, 4000) if r < 0.6 else rng.randint(4000, 100000) if r < 0.95 \
            else rng.randint(1000000, 2200000)
        names.append((f"{folder}/{name}", size))
    for rel, size in names:
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(rng.randbytes(size))
        os.utime(path, (1765000000, 1765000000))
    return [rel for rel, _ in names]


def write_lists(tree, names, publish=None):
    """The plain and listed lists, and (with the operators' tool) the signed one."""
    for name in ("_list_plain.txt", "_list_listed.txt"):
        if os.path.exists(os.path.join(tree, name)):
            os.remove(os.path.join(tree, name))
    if publish:
        tool, key = publish
        signed = os.path.join(tree, "_list_trusted.txt")
        previous = ["--previous", signed] if os.path.exists(signed) else []
        sh(tool, "list", tree, "--out", signed, "--encoding", "utf-8", *previous,
           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        sh(tool, "sign", signed, "--key", key, stdout=subprocess.DEVNULL)
    with open(os.path.join(tree, "_list_plain.txt"), "w", encoding="utf-8") as f:
        for rel in names:
            f.write(f"{rel},{rel.replace('/', chr(92))}\n")
    with open(os.path.join(tree, "_list_listed.txt"), "w", encoding="utf-8") as f:
        for rel in names:
            st = os.stat(os.path.join(tree, rel))
            stamp = time.strftime("%Y%m%d%H%M%S", time.gmtime(int(st.st_mtime) + SHIFT))
            f.write(f"{rel},{rel.replace('/', chr(92))},APP,FILE,{stamp},{st.st_size}\n")


def change_files(tree, names, rep):
    rng = random.Random(SEED + rep)
    for rel in rng.sample(names, len(names) // 20):
        path = os.path.join(tree, rel)
        with open(path, "ab") as f:
            f.write(b"changed %d\n" % rep)
        os.utime(path, (1765100000 + rep * 1000, 1765100000 + rep * 1000))


class Nginx:
    def __init__(self, repo, root, work):
        self.repo, self.work = repo, work
        env = dict(os.environ, KS_NGINX_AUTOINDEX="1")
        out = sh("bash", f"{repo}/scripts/serve-nginx.sh", "start", root, work,
                 capture_output=True, text=True, env=env).stdout.split()
        if not out:
            sys.exit("nginx could not be started")
        self.port = int(out[-1])
        self.log = os.path.join(work, "access.log")

    def mark(self):
        return os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def since(self, mark):
        with open(self.log, "rb") as f:
            f.seek(mark)
            lines = f.read().decode("utf-8", "replace").splitlines()
        conns, bytes_ = set(), 0
        for line in lines:
            parts = line.split()
            conns.add(parts[0])
            bytes_ += int(parts[-1])
        return len(lines), len(conns), bytes_

    def stop(self):
        sh("bash", f"{self.repo}/scripts/serve-nginx.sh", "stop", self.work)


STATS = "/tmp/kestrelsync-bench-time"


def timed(cmd, cwd=None, env=None):
    """Runs cmd under GNU time; returns (seconds, peak KiB). cpu_of_last_run tells its CPU."""
    stats = STATS
    start = time.monotonic()
    subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", stats] + cmd, cwd=cwd, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    seconds = time.monotonic() - start
    with open(stats) as f:
        peak = int(f.read().split()[-1])
    return seconds, peak


def cpu_of_last_run():
    """User plus system CPU seconds of the command timed last."""
    with open(STATS) as f:
        user, system = f.read().splitlines()[-1].split()[:2]
    return float(user) + float(system)


class KestrelSync:
    def __init__(self, repo, work, port, list_name, public_key=None, connections=1,
                 then_sync=False):
        self.exe = os.path.join(repo, "build/native-release/src/KestrelSync")
        self.work, self.port, self.list_name = work, port, list_name
        self.public_key, self.connections = public_key, connections
        # The run and a sync after it, timed together: its files as durable as a trusted
        # run's, which writes them through before its journal's READY.
        self.then_sync = then_sync
        prefix = os.path.join(work, "wine")
        os.makedirs(os.path.join(prefix, "drive_c/windows/system32"), exist_ok=True)
        open(os.path.join(prefix, "drive_c/windows/system32/regsvr32.exe"), "a").close()
        self.env = dict(os.environ, WINEPREFIX=prefix, TZ="UTC0",
                        XDG_DATA_HOME=os.path.join(work, "xdg"))

    def prepare(self, dest):
        os.makedirs(os.path.join(dest, "config"), exist_ok=True)
        shutil.copy(self.exe, dest)
        with open(os.path.join(dest, "config/KestrelSync.ini"), "w") as f:
            f.write(f"[VENTO]\nSVR_IP_ADDR=127.0.0.1\nSVR_PORT_NO={self.port}\n"
                    f"DOWNLOAD_BASE_URL=tree\nLIST_FILE_NAME={self.list_name}\n"
                    f"TIME_CHECK_SPAN=5\nCONNECTIONS={self.connections}\n")
        if self.public_key:
            shutil.copy(self.public_key, os.path.join(dest, "config/KestrelSync.pem"))

    def run(self, dest):
        exe = os.path.join(dest, "KestrelSync")
        if self.then_sync:
            return timed(["bash", "-c", '"$0" && sync', exe], cwd=dest, env=self.env)
        return timed([exe], cwd=dest, env=self.env)


def peers(port, names, work):
    url = f"http://127.0.0.1:{port}/tree/"
    urls = os.path.join(work, "urls.txt")
    with open(urls, "w") as f:
        for rel in names:
            f.write(url + urllib.parse.quote(rel) + "\n")
    wget = ["wget", "-q", "-N", "-x", "-nH", "--cut-dirs=1", "-i", urls]
    tools = {
        "wget-head": lambda dest: timed(wget + ["--no-if-modified-since", "-P", dest]),
        "wget-cond": lambda dest: timed(wget + ["-P", dest]),
    }
    if shutil.which("rclone"):
        tools["rclone"] = lambda dest: timed(
            ["rclone", "copy", "--http-url", url, ":http:", dest, "--transfers", "4",
             "--checkers", "8", "--config", "/dev/null"])
    if shutil.which("lftp"):
        tools["lftp"] = lambda dest: timed(
            ["lftp", "-c", f"set xfer:clobber on; mirror --only-newer {url} {dest}"])
    return tools


def main():
    global STATS
    repo, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    STATS = os.path.join(work, "time-stats")
    served = os.path.join(work, "served")
    tree = os.path.join(served, "tree")
    os.makedirs(tree)
    tool = os.path.join(repo, "build/native-release/src/kestrelsync-publish")
    keys = os.path.join(work, "keys")
    os.makedirs(keys)
    sh(tool, "keygen", keys, stdout=subprocess.DEVNULL)
    publish = (tool, os.path.join(keys, "list-signing.key"))
    public_key = os.path.join(keys, "KestrelSync.pem")
    print(f"Generating {FILES} files ...", flush=True)
    names = make_tree(tree)
    write_lists(tree, names, publish)
    total = sum(os.path.getsize(os.path.join(tree, n)) for n in names)
    print(f"Tree: {FILES} files, {total / 1e6:.1f} MB", flush=True)
    nginx = Nginx(repo, served, os.path.join(work, "nginx"))
    try:
        ks = {
            "ks-listed": KestrelSync(repo, work, nginx.port, "_list_listed.txt"),
            "ks-plain": KestrelSync(repo, work, nginx.port, "_list_plain.txt"),
            "ks-listed-4": KestrelSync(repo, work, nginx.port, "_list_listed.txt", connections=4),
            "ks-plain-4": KestrelSync(repo, work, nginx.port, "_list_plain.txt", connections=4),
            "ks-published": KestrelSync(repo, work, nginx.port, "_list_trusted.txt", public_key),
            "ks-published-4": KestrelSync(repo, work, nginx.port, "_list_trusted.txt", public_key,
                                          connections=4),
            "ks-listed-4+sync": KestrelSync(repo, work, nginx.port, "_list_listed.txt",
                                            connections=4, then_sync=True),
        }
        tools = {name: (lambda tool: (lambda dest: tool.run(dest)))(tool)
                 for name, tool in ks.items()}
        tools.update(peers(nginx.port, names, work))
        results = measure(tools, ks, nginx, work, tree, names, publish)
        floor = measure_floor(tree, work)
    finally:
        nginx.stop()
    report(results, floor, total)


def measure(tools, ks, nginx, work, tree, names, publish):
    samples = {name: {s: [] for s in ("cold", "noop", "5pct")} for name in tools}
    for scenario in ("cold", "noop", "5pct"):
        print(f"Measuring {scenario} ...", flush=True)
        for rep in range(3):
            if scenario == "5pct":
                change_files(tree, names, rep)
                write_lists(tree, names, publish)
            for name, run in tools.items():
                dest = os.path.join(work, "dest", name)
                if scenario == "cold":
                    shutil.rmtree(dest, ignore_errors=True)
                    os.makedirs(dest)
                    if name in ks:
                        ks[name].prepare(dest)
                # Nothing of an earlier run waits to be written: a run that flushes its files
                # (trusted mode) would otherwise write the previous tool's too.
                sh("sync")
                mark = nginx.mark()
                seconds, peak = run(dest)
                requests, conns, body = nginx.since(mark)
                samples[name][scenario].append((seconds, requests, conns, body, peak))
    out = {}
    for name, scenarios in samples.items():
        out[name] = {}
        for scenario, runs in scenarios.items():
            med = statistics.median(r[0] for r in runs)
            pick = min(runs, key=lambda r: abs(r[0] - med))
            out[name][scenario] = {"s": med, "req": pick[1], "conn": pick[2], "bytes": pick[3],
                                   "peak": max(r[4] for r in runs)}
    return out


def measure_floor(tree, work):
    cat = []
    cp = []
    for _ in range(3):
        start = time.monotonic()
        sh("bash", "-c", f"find '{tree}' -type f -print0 | xargs -0 cat > /dev/null")
        cat.append(time.monotonic() - start)
        dest = os.path.join(work, "cp-dest")
        shutil.rmtree(dest, ignore_errors=True)
        start = time.monotonic()
        sh("cp", "-r", tree, dest)
        cp.append(time.monotonic() - start)
    # A process that only loads libcurl and its libraries, as KestrelSync does, and ends:
    # what no run of a program on libcurl can take less than, timed the same way.
    start_only = [timed(["curl", "--version"])[0] for _ in range(9)] if shutil.which("curl") \
        else [0.0]
    return statistics.median(cat), statistics.median(cp), statistics.median(start_only)


def report(results, floor, total):
    print()
    print(f"{'tool':<12} {'scenario':<6} {'seconds':>8} {'requests':>9} {'conns':>6} "
          f"{'MB':>8} {'peak MB':>8}")
    for name, scenarios in results.items():
        for scenario, r in scenarios.items():
            print(f"{name:<12} {scenario:<6} {r['s']:8.2f} {r['req']:9d} {r['conn']:6d} "
                  f"{r['bytes'] / 1e6:8.1f} {r['peak'] / 1024:8.1f}")
    print()
    peers = [n for n in results if not n.startswith("ks-")]
    for ks in [n for n in results if n.startswith("ks-") and not n.endswith("+sync")]:
        for scenario in ("cold", "noop", "5pct"):
            mine = results[ks][scenario]["s"]
            ratios = ", ".join(f"{p} {results[p][scenario]['s'] / mine:.2f}x" for p in peers)
            print(f"{ks} {scenario}: peer time / KestrelSync time: {ratios}")
    cold = {n: total / results[n]["cold"]["s"] / 1e6 for n in ("ks-listed", "ks-published")}
    print(f"Cold download path: {cold['ks-listed']:.0f} MB/s in place without hashing, "
          f"{cold['ks-published']:.0f} MB/s hashed, staged and applied (trusted mode)")
    fastest = min((n for n in peers), key=lambda n: results[n]["noop"]["s"])
    cold_peer = min((n for n in peers), key=lambda n: results[n]["cold"]["s"])
    trusted4 = results["ks-published-4"]["cold"]["s"]
    print(f"ks-published-4 cold: {results[cold_peer]['cold']['s'] / trusted4:.2f}x faster than "
          f"the fastest peer ({cold_peer}), "
          f"{trusted4 / results['ks-listed-4']['cold']['s']:.2f}x the time of ks-listed-4, "
          f"{trusted4 / results['ks-listed-4+sync']['cold']['s']:.2f}x the time of ks-listed-4 "
          f"followed by sync (its files made durable too)")
    print(f"ks-published noop: {results['ks-published']['noop']['req']} requests, "
          f"{results[fastest]['noop']['s'] / results['ks-published']['noop']['s']:.1f}x faster "
          f"than the fastest peer ({fastest})")
    print()
    print(f"No-op floor: a process that loads libcurl and ends (curl --version), timed as the "
          f"runs are: {floor[2] * 1000:.0f} ms; {results[fastest]['noop']['s'] * 1000:.0f} ms "
          f"for the fastest peer's no-op")
    print(f"Floor: cat of the tree {floor[0]:.2f} s, cp -r {floor[1]:.2f} s "
          f"({total / 1e6:.1f} MB)")


if __name__ == "__main__":
    main()
