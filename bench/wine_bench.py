#!/usr/bin/env python3
"""Measures the Windows KestrelSync.exe under Wine against a raw WinINet reader.

Tree: the sync benchmark's tree (2,000 files, Korean names among them), served by nginx on
127.0.0.1. Lists, in CP949 with time and size: the 100 largest files ("big"), the files under
4,000 bytes ("small"), and an empty one (the floor of starting and ending the program).
Runs, each a whole process, interleaved three times (the median is shown):
  raw-4k, raw-64k  bench/raw_wininet.cpp fetching the list's files with 4 KB and 64 KB reads
  ks-cold          KestrelSync.exe "2" into a fresh program folder
  ks-noop          the same folder again, nothing to do
  ks-empty         an empty list
Prints the seconds and the ratios the targets name: (cold - noop) / raw-64k for the big
files, (cold - noop) / raw for the small files, noop / empty.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(__file__))
import sync_bench  # noqa: E402

SHIFT = 32400


def listed_line(tree, rel):
    st = os.stat(os.path.join(tree, rel))
    stamp = time.strftime("%Y%m%d%H%M%S", time.gmtime(int(st.st_mtime) + SHIFT))
    return f"{rel},{rel.replace('/', chr(92))},APP,FILE,{stamp},{st.st_size}\n"


def main():
    repo, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    served = os.path.join(work, "served")
    tree = os.path.join(served, "tree")
    os.makedirs(tree)
    names = sync_bench.make_tree(tree)
    sizes = {n: os.path.getsize(os.path.join(tree, n)) for n in names}
    sets = {
        "big": sorted(names, key=lambda n: -sizes[n])[:100],
        "small": [n for n in names if sizes[n] < 4000],
        "empty": [],
    }
    for name, files in sets.items():
        with open(os.path.join(tree, f"_list_{name}.txt"), "wb") as f:
            f.write("".join(listed_line(tree, rel) for rel in files).encode("cp949"))
        with open(os.path.join(work, f"paths_{name}.txt"), "w") as f:
            f.writelines("/tree/" + urllib.parse.quote(rel) + "\n" for rel in files)
    nginx = sync_bench.Nginx(repo, served, os.path.join(work, "nginx"))
    exe = os.path.join(repo, "build/windows/src/KestrelSync.exe")
    raw = os.path.join(repo, "build/windows/src/ks_rawreader.exe")
    env = dict(os.environ, WINEPREFIX=os.path.join(work, "wine"))
    wine = [os.path.join(repo, "scripts/wine-run.sh")]
    subprocess.run(wine + ["cmd", "/c", "exit"], env=env, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    server = subprocess.Popen(["wineserver", "-p", "-f"], env=env)  # one server for every run

    def program_folder(name):
        folder = os.path.join(work, "app-" + name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(os.path.join(folder, "config"))
        shutil.copy(exe, os.path.join(folder, "KestrelSync.exe"))
        with open(os.path.join(folder, "config/KestrelSync.ini"), "w") as f:
            f.write(f"[VENTO]\r\nSVR_IP_ADDR=127.0.0.1\r\nSVR_PORT_NO={nginx.port}\r\n"
                    f"DOWNLOAD_BASE_URL=tree\r\nLIST_FILE_NAME=_list_{name}.txt\r\n"
                    "TIME_CHECK_SPAN=5\r\n")
        return folder

    def timed(cmd, cwd=None):
        start = time.monotonic()
        subprocess.run(wine + cmd, cwd=cwd, env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return time.monotonic() - start

    samples = {}
    try:
        for _ in range(3):
            for name in ("big", "small"):
                for block in ("4096", "65536"):
                    samples.setdefault(f"{name} raw-{block[:-3] if block == '4096' else '64'}k",
                                       []).append(
                        timed([raw, "127.0.0.1", str(nginx.port),
                               os.path.join(work, f"paths_{name}.txt"), block]))
                folder = program_folder(name)
                samples.setdefault(f"{name} ks-cold", []).append(
                    timed(["KestrelSync.exe", "2"], cwd=folder))
                samples.setdefault(f"{name} ks-noop", []).append(
                    timed(["KestrelSync.exe", "2"], cwd=folder))
            samples.setdefault("ks-empty", []).append(
                timed(["KestrelSync.exe", "2"], cwd=program_folder("empty")))
    finally:
        server.terminate()
        nginx.stop()
    med = {k: statistics.median(v) for k, v in samples.items()}
    total = {name: sum(sizes[n] for n in files) for name, files in sets.items()}
    print(f"big: {len(sets['big'])} files, {total['big'] / 1e6:.1f} MB; "
          f"small: {len(sets['small'])} files, {total['small'] / 1e6:.1f} MB")
    for key, value in med.items():
        print(f"{key:<16} {value:7.2f} s")
    for name, raw_key in (("big", "big raw-64k"), ("small", "small raw-64k")):
        spent = med[f"{name} ks-cold"] - med[f"{name} ks-noop"]
        print(f"{name}: (cold - noop) {spent:.2f} s = {spent / med[raw_key]:.2f}x raw-64k "
              f"({med[raw_key]:.2f} s), {spent / med[name + ' raw-4k']:.2f}x raw-4k")
    for name in ("big", "small"):
        print(f"{name} noop / empty: {med[name + ' ks-noop'] / med['ks-empty']:.2f}x")


if __name__ == "__main__":
    main()
