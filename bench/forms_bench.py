#!/usr/bin/env python3
"""Bytes on the wire and time of updates that take the release store's smaller forms.

Bytes: pairs of real consecutive release builds from Debian's archive (the two newest versions
of each package that apt can download), the package's shared libraries as the files of a
release. For each pair: the old release published into a store and installed by a trusted
workstation, the new one published; then the bytes nginx served for
  patch - the workstation's update (patches, compressed copies, list and index),
  new   - a workstation that installs the new release from nothing (compressed copies),
  zsync - zsync fetching each changed file with the old one as its seed (zsyncmake's .zsync
          and the blocks it asks for),
against the full bytes of the files that changed.

Time: the sync benchmark's tree (2,000 files, about 150 MB of incompressible bytes) released
into two stores, one with its forms and one whose forms index is removed after each release (so
its workstations take the objects). Each round changes 5% of the files, releases both, and
updates four trusted workstations with CONNECTIONS=4, interleaved: each store once through an
nginx limited to 10 Mbit/s per connection (limit_rate) and once through one without a limit.
Five rounds; the median is shown. Before every timed update the file systems are flushed (the
releases leave much unwritten), and every other round takes the workstations in reverse order,
so that neither kind always runs first after a release. The Windows build under Wine then takes
the same kind of update (its own stores, CP949 lists) on loopback, with and without the forms,
after one Wine process started and ended untimed in each round (the first one after a release
starts about a second slower); besides the whole runs, the time between each run's first and
last log line shows the program's own part.
"""
import glob
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import sync_bench  # noqa: E402

PACKAGES = ("libssl3", "libcurl4", "libzstd1")


def run(*cmd, **kw):
    return subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          **kw)


def newest_two(package):
    out = subprocess.run(["apt-cache", "madison", package], capture_output=True, text=True).stdout
    versions = sorted({line.split("|")[1].strip() for line in out.splitlines()
                       if "Packages" in line})
    ordered = []
    for v in versions:
        i = len(ordered)
        while i > 0 and subprocess.run(["dpkg", "--compare-versions", v, "lt",
                                        ordered[i - 1]]).returncode == 0:
            i -= 1
        ordered.insert(i, v)
    return ordered[-2:] if len(ordered) >= 2 else None


def libraries(package, version, work):
    """The shared libraries of package at version, extracted: {name: path}."""
    folder = os.path.join(work, "debs", f"{package}_{version}")
    os.makedirs(folder, exist_ok=True)
    run("apt-get", "download", f"{package}={version}", cwd=folder)
    deb = glob.glob(os.path.join(folder, "*.deb"))[0]
    root = os.path.join(folder, "root")
    run("dpkg-deb", "-x", deb, root)
    found = {}
    for path in glob.glob(os.path.join(root, "usr/lib/*/*.so*")) + glob.glob(
            os.path.join(root, "usr/lib/*/*/*.so*")):
        if os.path.isfile(path) and not os.path.islink(path):
            found[os.path.relpath(path, root).replace("/", "_")] = path
    return found


class Store:
    def __init__(self, tool, key, path, encoding="utf-8"):
        self.tool, self.key, self.path, self.encoding = tool, key, path, encoding

    def release(self, tree, forms=True):
        run(self.tool, "release", tree, "--store", self.path, "--key", self.key, "--encoding",
            self.encoding)
        if not forms:
            shutil.rmtree(os.path.join(self.path, "forms"), ignore_errors=True)


class Workstation(sync_bench.KestrelSync):
    def __init__(self, repo, work, port, base, public_key, dest):
        super().__init__(repo, work, port, "_listfile.txt", public_key, connections=4)
        self.base, self.dest = base, dest
        shutil.rmtree(dest, ignore_errors=True)
        os.makedirs(dest)
        self.prepare(dest)
        path = os.path.join(dest, "config/KestrelSync.ini")
        with open(path) as f:
            text = f.read().replace("DOWNLOAD_BASE_URL=tree", f"DOWNLOAD_BASE_URL={base}")
        with open(path, "w") as f:
            f.write(text)

    def update(self):
        return self.run(self.dest)[0]


def tree_of(files, root):
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(root)
    for name, path in files.items():
        shutil.copy2(path, os.path.join(root, name))
    return root


def zsync_bytes(nginx, served, old, new, name):
    folder = os.path.join(served, "zs")
    os.makedirs(folder, exist_ok=True)
    shutil.copy(new, os.path.join(folder, name))
    url = f"http://127.0.0.1:{nginx.port}/zs/{name}"
    run("zsyncmake", "-u", url, "-o", os.path.join(folder, name + ".zsync"),
        os.path.join(folder, name))
    out = os.path.join(folder, "out-" + name)
    mark = nginx.mark()
    run("zsync", "-q", "-i", old, "-o", out, url + ".zsync", cwd=folder)
    return nginx.since(mark)[2]


def measure_bytes(repo, work, tool, key, public_key, nginx, served):
    print(f"{'pair':<44} {'changed MB':>10} {'patch':>8} {'new':>8} {'zsync':>8}")
    for package in PACKAGES:
        pair = newest_two(package)
        if pair is None:
            print(f"{package}: fewer than two versions to download")
            continue
        old, new = (libraries(package, v, work) for v in pair)
        base = f"b-{package}"
        store = Store(tool, key, os.path.join(served, base))
        store.release(tree_of(old, os.path.join(work, "t-old")))
        ws = Workstation(repo, work, nginx.port, base, public_key, os.path.join(work, "ws-" + package))
        ws.update()
        store.release(tree_of(new, os.path.join(work, "t-new")))
        changed = {n for n in new if n not in old or open(new[n], "rb").read() != open(old[n], "rb").read()}
        full = sum(os.path.getsize(new[n]) for n in changed)
        mark = nginx.mark()
        ws.update()
        patch = nginx.since(mark)[2]
        fresh = Workstation(repo, work, nginx.port, base, public_key, os.path.join(work, "fr-" + package))
        mark = nginx.mark()
        fresh.update()
        cold = nginx.since(mark)[2]
        zs = sum(zsync_bytes(nginx, served, old[n], new[n], n) for n in changed if n in old)
        label = f"{package} {pair[0]} -> {pair[1]}"
        print(f"{label:<44} {full / 1e6:10.2f} {patch / full:7.1%} {cold / full:7.1%} "
              f"{zs / full:7.1%}")


ROUNDS = 5


def in_turn(runs, rep):
    """The runs of one round: in their order in even rounds, reversed in odd ones."""
    return runs if rep % 2 == 0 else runs[::-1]


def measure_time(repo, work, tool, key, public_key, served):
    tree = os.path.join(work, "tree")
    names = sync_bench.make_tree(tree)
    stores = {f: Store(tool, key, os.path.join(served, "s-" + f)) for f in ("forms", "plain")}
    print("Releasing the benchmark tree into both stores ...", flush=True)
    start = time.monotonic()
    stores["forms"].release(tree)
    print(f"first release with forms: {time.monotonic() - start:.1f} s", flush=True)
    stores["plain"].release(tree, forms=False)
    limited = sync_bench.Nginx.__new__(sync_bench.Nginx)
    env_rate = dict(os.environ, KS_NGINX_LIMIT_RATE="1250k")
    out = subprocess.run(["bash", f"{repo}/scripts/serve-nginx.sh", "start", served,
                          os.path.join(work, "nginx-limited")], capture_output=True, text=True,
                         env=env_rate, check=True).stdout.split()
    limited.repo, limited.work = repo, os.path.join(work, "nginx-limited")
    limited.port = int(out[-1])
    limited.log = os.path.join(limited.work, "access.log")
    loop = sync_bench.Nginx(repo, served, os.path.join(work, "nginx-loop"))
    try:
        ws = {}
        for f in ("forms", "plain"):
            loop_ws = Workstation(repo, work, loop.port, "s-" + f, public_key,
                                  os.path.join(work, f"ws-{f}-loopback"))
            loop_ws.update()
            ws[(f, "loopback")] = loop_ws
            # The limited workstation starts from the same installation, copied.
            limited_ws = Workstation(repo, work, limited.port, "s-" + f, public_key,
                                     os.path.join(work, f"ws-{f}-10mbit"))
            shutil.rmtree(limited_ws.dest)
            shutil.copytree(loop_ws.dest, limited_ws.dest, symlinks=True)
            path = os.path.join(limited_ws.dest, "config/KestrelSync.ini")
            with open(path) as f_in:
                text = f_in.read()
            with open(path, "w") as f_out:
                f_out.write(text.replace(f"SVR_PORT_NO={loop.port}", f"SVR_PORT_NO={limited.port}"))
            ws[(f, "10mbit")] = limited_ws
        samples = {k: [] for k in ws}
        for rep in range(ROUNDS):
            sync_bench.change_files(tree, names, rep)
            for f, store in stores.items():
                store.release(tree, forms=f == "forms")
            for k, w in in_turn(list(ws.items()), rep):
                os.sync()
                samples[k].append(w.update())
    finally:
        loop.stop()
        limited.stop()
    med = {k: statistics.median(v) for k, v in samples.items()}
    for net in ("10mbit", "loopback"):
        print(f"5% update, {net}: with forms {med[('forms', net)]:.2f} s, objects only "
              f"{med[('plain', net)]:.2f} s, ratio {med[('forms', net)] / med[('plain', net)]:.2f}")
    return tree, names


def run_window(folder):
    """Seconds from the first to the last line the program logged in its newest run: the run
    without Wine's start of the process and its end."""
    logs = sorted(glob.glob(os.path.join(folder, "log", "*.log")), key=os.path.getmtime)
    with open(logs[-1], "rb") as f:
        lines = f.read().decode("cp949", "replace").splitlines()
    starts = [i for i, line in enumerate(lines) if "Vento Start..." in line]
    stamps = [line[11:23] for line in lines[starts[-1]:] if line[10:11] == "="]

    def seconds(stamp):
        h, m, s = stamp.split(":")
        return int(h) * 3600 + int(m) * 60 + float(s)
    return (seconds(stamps[-1]) - seconds(stamps[0])) % 86400


def measure_wine(repo, work, tool, key, public_key, served, tree, names):
    exe = os.path.join(repo, "build/windows/src/KestrelSync.exe")
    if not os.path.exists(exe):
        print("Wine: build/windows/src/KestrelSync.exe is not built")
        return
    env = dict(os.environ, WINEPREFIX=os.path.join(work, "wine"))
    wine = [os.path.join(repo, "scripts/wine-run.sh")]
    run(*wine, "cmd", "/c", "exit", env=env)
    server = subprocess.Popen(["wineserver", "-p", "-f"], env=env)
    nginx = sync_bench.Nginx(repo, served, os.path.join(work, "nginx-wine"))
    stores = {f: Store(tool, key, os.path.join(served, "w-" + f), "cp949") for f in ("forms", "plain")}
    try:
        for f, store in stores.items():
            store.release(tree, forms=f == "forms")
        folders = {}
        for f in stores:
            folder = os.path.join(work, "wapp-" + f)
            shutil.rmtree(folder, ignore_errors=True)
            os.makedirs(os.path.join(folder, "config"))
            shutil.copy(exe, os.path.join(folder, "KestrelSync.exe"))
            shutil.copy(public_key, os.path.join(folder, "config/KestrelSync.pem"))
            with open(os.path.join(folder, "config/KestrelSync.ini"), "w") as out:
                out.write(f"[VENTO]\r\nSVR_IP_ADDR=127.0.0.1\r\nSVR_PORT_NO={nginx.port}\r\n"
                          f"DOWNLOAD_BASE_URL=w-{f}\r\nLIST_FILE_NAME=_listfile.txt\r\n"
                          "TIME_CHECK_SPAN=5\r\nCONNECTIONS=4\r\n")
            run(*wine, "KestrelSync.exe", "2", cwd=folder, env=env)
            folders[f] = folder
        samples = {f: [] for f in stores}
        inside = {f: [] for f in stores}
        for rep in range(ROUNDS):
            sync_bench.change_files(tree, names, 10 + rep)
            for f, store in stores.items():
                store.release(tree, forms=f == "forms")
            # The first Wine process after a release takes about a second longer to start
            # (seen in both orders): that start is paid here, not by whichever update is first.
            run(*wine, "cmd", "/c", "exit", env=env)
            for f, folder in in_turn(list(folders.items()), rep):
                os.sync()
                start = time.monotonic()
                run(*wine, "KestrelSync.exe", "2", cwd=folder, env=env)
                samples[f].append(time.monotonic() - start)
                inside[f].append(run_window(folder))
    finally:
        server.terminate()
        nginx.stop()
    med = {f: statistics.median(v) for f, v in samples.items()}
    print(f"Wine, 5% update, loopback: with forms {med['forms']:.2f} s, objects only "
          f"{med['plain']:.2f} s")
    for f in stores:
        print(f"  {f}: runs " + " ".join(f"{x:.2f}" for x in samples[f]) +
              "; in the program (first to last log line) " +
              " ".join(f"{x:.2f}" for x in inside[f]) +
              f", median {statistics.median(inside[f]):.2f} s")


def main():
    repo, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    sync_bench.STATS = os.path.join(work, "time-stats")
    tool = os.path.join(repo, "build/native-release/src/kestrelsync-publish")
    keys = os.path.join(work, "keys")
    os.makedirs(keys)
    run(tool, "keygen", keys)
    key, public_key = os.path.join(keys, "list-signing.key"), os.path.join(keys, "KestrelSync.pem")
    served = os.path.join(work, "served")
    os.makedirs(served)
    nginx = sync_bench.Nginx(repo, served, os.path.join(work, "nginx"))
    try:
        measure_bytes(repo, work, tool, key, public_key, nginx, served)
    finally:
        nginx.stop()
    tree, names = measure_time(repo, work, tool, key, public_key, served)
    measure_wine(repo, work, tool, key, public_key, served, tree, names)


if __name__ == "__main__":
    main()
