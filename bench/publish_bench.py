#!/usr/bin/env python3
"""Measures kestrelsync-publish's list command against sha256sum on the sync benchmark's tree.

Runs, interleaved three times (the median is shown): sha256sum of every file of the tree,
"list" of the tree into a fresh list, and "list --previous" of the unchanged tree (which hashes
every file again). Prints seconds, throughput in MB/s, the peak resident memory (GNU time), and
the tool's throughput as a share of sha256sum's.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import sync_bench  # noqa: E402


def timed(cmd, stats):
    start = time.monotonic()
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", stats] + cmd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.monotonic() - start
    with open(stats) as f:
        return seconds, int(f.read().split()[-1])


def main():
    repo, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    tree = os.path.join(work, "tree")
    os.makedirs(tree)
    names = sync_bench.make_tree(tree)
    total = sum(os.path.getsize(os.path.join(tree, n)) for n in names)
    tool = os.path.join(repo, "build/native-release/src/kestrelsync-publish")
    listing = os.path.join(work, "files.txt")
    with open(listing, "w") as f:
        f.write("\n".join(os.path.join(tree, n) for n in names) + "\n")
    out = os.path.join(work, "list.txt")
    runs = {
        "sha256sum": ["bash", "-c", f"tr '\\n' '\\0' < '{listing}' | xargs -0 sha256sum"],
        "publish list": [tool, "list", tree, "--out", out, "--encoding", "utf-8"],
        "publish list --previous": [tool, "list", tree, "--out", out + ".2", "--previous", out,
                                    "--encoding", "utf-8"],
    }
    stats = os.path.join(work, "time-stats")
    samples = {name: [] for name in runs}
    for _ in range(3):
        for name, cmd in runs.items():
            samples[name].append(timed(cmd, stats))
    print(f"Tree: {len(names)} files, {total / 1e6:.1f} MB (read from the page cache)")
    print(f"{'run':<24} {'seconds':>8} {'MB/s':>8} {'peak MB':>8}")
    med = {}
    for name, runs_ in samples.items():
        med[name] = statistics.median(s[0] for s in runs_)
        peak = max(s[1] for s in runs_) / 1024
        print(f"{name:<24} {med[name]:8.2f} {total / med[name] / 1e6:8.0f} {peak:8.1f}")
    for name in ("publish list", "publish list --previous"):
        print(f"{name}: {med['sha256sum'] / med[name] * 100:.0f}% of sha256sum's throughput")


if __name__ == "__main__":
    main()
