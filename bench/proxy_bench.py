#!/usr/bin/env python3
"""Measures KestrelSync through a proxy against the same runs without one.

The sync benchmark's tree (bench/sync_bench.py) served by nginx on 127.0.0.1, and the open
squid of the tests (scripts/serve-squid.sh: no cache, every request logged). Rows, each run
three times interleaved (direct, proxy, direct, proxy, ...; the median is shown):
  ks-published-4 - trusted mode with the list kestrelsync-publish signed, CONNECTIONS=4
  ks-listed-4    - plain mode with a list that carries time and size, CONNECTIONS=4
each once direct and once with PROXY_SERVER naming the squid, and wget -N (one connection,
conditional GETs) once direct and once through the same squid, the peer that shows what the
proxy itself costs; scenarios cold (an empty folder) and noop (nothing changed). For every
run: seconds, the requests and connections nginx logged, the requests squid logged, and the CPU
seconds the client, squid and nginx spent on it. Squid is one process: a run through it cannot
end sooner than its CPU time, nor sooner than the three programs' CPU time shared by every core.

The floor: the tree's bytes as one file, fetched by wget in one request into /dev/null, direct
and through squid (three times, interleaved): how long squid takes to relay those bytes at all,
however few the requests and however little the client's own work.
"""
import os
import shutil
import statistics
import subprocess
import sys
import urllib.parse

sys.path.insert(0, os.path.dirname(__file__))
import sync_bench  # noqa: E402


def process_cpu(pid):
    """CPU seconds the process has used so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def nginx_cpu(nginx):
    """CPU seconds nginx's master and workers have used so far."""
    with open(os.path.join(nginx.work, "nginx.pid")) as f:
        master = int(f.read())
    total = process_cpu(master)
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    if int(f.read().rsplit(")", 1)[1].split()[1]) == master:
                        total += process_cpu(int(entry))
            except (OSError, ValueError):
                pass  # a process that ended meanwhile
    return total


class Squid:
    def __init__(self, repo, work):
        self.repo, self.work = repo, work
        sync_bench.sh("bash", f"{repo}/scripts/serve-squid.sh", "start", work,
                      stdout=subprocess.DEVNULL)
        if os.path.exists(os.path.join(work, "unavailable")):
            sys.exit("squid cannot run: " + open(os.path.join(work, "unavailable")).read())
        with open(os.path.join(work, "port-open")) as f:
            self.port = int(f.read())
        self.log = os.path.join(work, "open/access.log")

    def mark(self):
        return os.path.getsize(self.log) if os.path.exists(self.log) else 0

    def since(self, mark):
        with open(self.log, "rb") as f:
            f.seek(mark)
            return len(f.read().splitlines())

    def cpu(self):
        """CPU seconds the squid process has used so far."""
        with open(os.path.join(self.work, "open/squid.pid")) as f:
            return process_cpu(int(f.read()))

    def stop(self):
        sync_bench.sh("bash", f"{self.repo}/scripts/serve-squid.sh", "stop", self.work)


class ProxiedKestrelSync(sync_bench.KestrelSync):
    def __init__(self, *args, proxy_port, **kw):
        super().__init__(*args, **kw)
        self.proxy_port = proxy_port

    def prepare(self, dest):
        super().prepare(dest)
        with open(os.path.join(dest, "config/KestrelSync.ini"), "a") as f:
            f.write(f"PROXY_SERVER=127.0.0.1:{self.proxy_port}\n")


def wget_rows(work, port, names, proxy_port):
    urls = os.path.join(work, "urls.txt")
    with open(urls, "w") as f:
        for rel in names:
            f.write(f"http://127.0.0.1:{port}/tree/" + urllib.parse.quote(rel) + "\n")
    wget = ["wget", "-q", "-N", "-x", "-nH", "--cut-dirs=1", "-i", urls]
    env = dict(os.environ, http_proxy=f"http://127.0.0.1:{proxy_port}", no_proxy="")
    return {
        "wget": lambda dest: sync_bench.timed(wget + ["-P", dest]),
        "wget proxy": lambda dest: sync_bench.timed(wget + ["-P", dest], env=env),
    }


def whole_body_floor(work, port, tree, names, proxy_port):
    """Seconds of one GET of the tree's bytes as one file: (direct, through squid), medians."""
    whole = os.path.join(os.path.dirname(tree), "whole.bin")
    with open(whole, "wb") as out:
        for rel in names:
            with open(os.path.join(tree, rel), "rb") as f:
                shutil.copyfileobj(f, out)
    url = f"http://127.0.0.1:{port}/whole.bin"
    env = dict(os.environ, http_proxy=f"http://127.0.0.1:{proxy_port}", no_proxy="")
    direct, proxied = [], []
    for _ in range(3):
        for samples, run_env in ((direct, None), (proxied, env)):
            samples.append(sync_bench.timed(["wget", "-q", "-O", "/dev/null", url], env=run_env)[0])
    return statistics.median(direct), statistics.median(proxied), os.path.getsize(whole)


def main():
    repo, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    sync_bench.STATS = os.path.join(work, "time-stats")
    tree = os.path.join(work, "served", "tree")
    os.makedirs(tree)
    tool = os.path.join(repo, "build/native-release/src/kestrelsync-publish")
    keys = os.path.join(work, "keys")
    os.makedirs(keys)
    sync_bench.sh(tool, "keygen", keys, stdout=subprocess.DEVNULL)
    names = sync_bench.make_tree(tree)
    sync_bench.write_lists(tree, names, (tool, os.path.join(keys, "list-signing.key")))
    public_key = os.path.join(keys, "KestrelSync.pem")
    nginx = sync_bench.Nginx(repo, os.path.join(work, "served"), os.path.join(work, "nginx"))
    squid = Squid(repo, os.path.join(work, "squid"))
    try:
        rows = {}
        for name, list_name, key in (("ks-published-4", "_list_trusted.txt", public_key),
                                     ("ks-listed-4", "_list_listed.txt", None)):
            rows[name] = sync_bench.KestrelSync(repo, work, nginx.port, list_name, key,
                                                connections=4)
            rows[name + " proxy"] = ProxiedKestrelSync(repo, work, nginx.port, list_name, key,
                                                       connections=4, proxy_port=squid.port)
        runs = {name: (lambda ks: (lambda dest: ks.run(dest)))(ks) for name, ks in rows.items()}
        runs.update(wget_rows(work, nginx.port, names, squid.port))
        samples = {name: {"cold": [], "noop": []} for name in runs}
        for scenario in ("cold", "noop"):
            print(f"Measuring {scenario} ...", flush=True)
            for _ in range(3):
                for name, run in runs.items():
                    dest = os.path.join(work, "dest", name.replace(" ", "-"))
                    if scenario == "cold":
                        shutil.rmtree(dest, ignore_errors=True)
                        os.makedirs(dest)
                        if name in rows:
                            rows[name].prepare(dest)
                    # Nothing of an earlier run waits to be written (trusted mode flushes).
                    sync_bench.sh("sync")
                    marks = nginx.mark(), squid.mark(), squid.cpu(), nginx_cpu(nginx)
                    seconds, _ = run(dest)
                    client = sync_bench.cpu_of_last_run()
                    served = nginx.since(marks[0])
                    samples[name][scenario].append((seconds, served[0], served[1],
                                                    squid.since(marks[1]), squid.cpu() - marks[2],
                                                    client, nginx_cpu(nginx) - marks[3]))
        floor = whole_body_floor(work, nginx.port, tree, names, squid.port)
    finally:
        squid.stop()
        nginx.stop()
    print()
    print(f"{'row':<22} {'scenario':<6} {'seconds':>8} {'requests':>9} {'conns':>6} "
          f"{'via squid':>10} {'CPU s: client':>14} {'squid':>6} {'nginx':>6}")
    median, squid_cpu, all_cpu = {}, {}, {}
    for name, scenarios in samples.items():
        for scenario, runs in scenarios.items():
            med = statistics.median(r[0] for r in runs)
            pick = min(runs, key=lambda r: abs(r[0] - med))
            median[(name, scenario)] = med
            squid_cpu[(name, scenario)] = statistics.median(r[4] for r in runs)
            all_cpu[(name, scenario)] = statistics.median(r[4] + r[5] + r[6] for r in runs)
            print(f"{name:<22} {scenario:<6} {med:8.2f} {pick[1]:9d} {pick[2]:6d} {pick[3]:10d} "
                  f"{pick[5]:14.2f} {pick[4]:6.2f} {pick[6]:6.2f}")
    print()
    for name in ("ks-published-4", "ks-listed-4", "wget"):
        for scenario in ("cold", "noop"):
            ratio = median[(name + " proxy", scenario)] / median[(name, scenario)]
            print(f"{name} {scenario}: through squid / direct = {ratio:.2f}x")
    cores = os.cpu_count() or 1
    for name in ("ks-published-4", "ks-listed-4", "wget"):
        squid_s = squid_cpu[(name + " proxy", "cold")]
        shared_s = all_cpu[(name + " proxy", "cold")] / cores
        direct = median[(name, "cold")]
        print(f"{name} cold through squid, the least time its CPU allows: squid alone "
              f"{squid_s:.2f} s ({squid_s / direct:.2f}x the direct run), client, squid and "
              f"nginx on {cores} cores {shared_s:.2f} s ({shared_s / direct:.2f}x)")
    direct, proxied, size = floor
    print(f"Floor: the tree's {size / 1e6:.1f} MB as one body, wget direct {direct:.2f} s, "
          f"through squid {proxied:.2f} s ({proxied / direct:.2f}x); squid's one body alone is "
          f"{proxied / median[('ks-listed-4', 'cold')]:.2f}x the direct ks-listed-4 cold run, "
          f"{proxied / median[('ks-published-4', 'cold')]:.2f}x the direct ks-published-4 one")


if __name__ == "__main__":
    main()
