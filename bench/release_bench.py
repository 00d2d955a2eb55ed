#!/usr/bin/env python3
"""Measures kestrelsync-publish's release command on the sync benchmark's tree.

Runs, interleaved three times (the median is shown):
- "sha256sum + cp -r": sha256sum of every file of the tree, then cp -r of the tree (the work a
  release into an empty store does by hand);
- "release, empty store": release of the tree into a fresh store;
- "list": list of the same tree into a fresh list;
- "release, 5% changed": release of a copy of the tree with 5% of its files changed, into a
  store that holds the unchanged tree's release (made before, not timed).
Prints seconds and the two ratios the operators' tool is held to.
"""
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import sync_bench  # noqa: E402


def run(cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def timed(*cmds):
    # Nothing another step left unwritten is flushed while this one is timed.
    os.sync()
    start = time.monotonic()
    for cmd in cmds:
        run(cmd)
    return time.monotonic() - start


def main():
    repo, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    tree = os.path.join(work, "tree")
    os.makedirs(tree)
    names = sync_bench.make_tree(tree)
    total = sum(os.path.getsize(os.path.join(tree, n)) for n in names)
    changed = os.path.join(work, "tree-5")
    shutil.copytree(tree, changed)
    for name in names[:: 20]:  # every 20th file: 5%
        with open(os.path.join(changed, name), "ab") as f:
            f.write(b"changed")
    tool = os.path.join(repo, "build/native-release/src/kestrelsync-publish")
    key = os.path.join(work, "key")
    os.makedirs(key)
    run([tool, "keygen", key])
    key = os.path.join(key, "list-signing.key")
    listing = os.path.join(work, "files.txt")
    with open(listing, "w") as f:
        f.write("\n".join(os.path.join(tree, n) for n in names) + "\n")
    release = [tool, "release", "--key", key, "--encoding", "utf-8", "--store"]
    samples = {n: [] for n in ("sha256sum + cp -r", "release, empty store", "list",
                               "release, 5% changed")}
    # Every round writes into folders of its own and nothing is deleted until the end: a file
    # system that has just freed thousands of inodes (ext4 without a journal) makes each new
    # file slow to create for half a minute, which would measure the previous round's clean-up.
    for i in range(3):
        store, copy, base = (os.path.join(work, f"{n}-{i}") for n in ("store", "copy", "base"))
        samples["sha256sum + cp -r"].append(timed(
            ["bash", "-c", f"tr '\\n' '\\0' < '{listing}' | xargs -0 sha256sum"],
            ["cp", "-r", tree, copy]))
        samples["release, empty store"].append(timed(release + [store, tree]))
        samples["list"].append(timed([tool, "list", tree, "--out",
                                      os.path.join(work, "list.txt"), "--encoding", "utf-8"]))
        run(release + [base, tree])
        samples["release, 5% changed"].append(timed(release + [base, changed]))
    print(f"Tree: {len(names)} files, {total / 1e6:.1f} MB (read from the page cache)")
    med = {n: statistics.median(s) for n, s in samples.items()}
    for name, seconds in med.items():
        print(f"{name:<24} {seconds:8.2f} s   (runs: "
              + ", ".join(f"{s:.2f}" for s in samples[name]) + ")")
    print(f"release, empty store / (sha256sum + cp -r): "
          f"{med['release, empty store'] / med['sha256sum + cp -r']:.2f}x (target <= 1.5x)")
    for i in range(3):
        for n in ("store", "copy", "base"):
            shutil.rmtree(os.path.join(work, f"{n}-{i}"), ignore_errors=True)
    print(f"release, 5% changed / list: {med['release, 5% changed'] / med['list']:.2f}x "
          f"(target <= 1.2x)")


if __name__ == "__main__":
    main()
