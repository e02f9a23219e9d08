#!/usr/bin/env python3
"""Whole-process extraction: lu-unzip against `7z x` and `unzip` on two package shapes.

  small  20,000 files of 0.3 to 12 KB
  large  about 97 MB in 4,295 files (most of 1 to 64 KB, 45 of 256 KB to 2 MB)

Both are made with Info-ZIP `zip -6` from deterministic contents (word-salad text,
pieces of the machine's own programs, some incompressible data) and extracted to
tmpfs (/dev/shm), the archive lying there too. Each round runs every tool once, in
an order that rotates from round to round, into an emptied folder; the figure is
the median wall time of the whole process. The trees the tools write are compared
once before timing. Where strace is installed, lu-unzip's system calls per file
on the small-file shape follow.

Usage: bench_extract.py BUILD_DIR [--rounds N] [--keep]
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

TMPFS = "/dev/shm"


def text_pool(rng, size):
    syllables = ["ka", "lo", "ve", "tri", "an", "de", "mor", "ste", "qui", "ra", "po", "len",
                 "the", "and", "ion", "ex", "pa", "sol", "ver", "nu", "ti", "gra", "wen", "or"]
    words = ["".join(rng.choice(syllables) for _ in range(rng.randint(1, 4))) for _ in range(3000)]
    # Zipf-like: the first words far more often.
    weights = [1.0 / (i + 1) for i in range(len(words))]
    out = []
    length = 0
    while length < size:
        line = " ".join(rng.choices(words, weights, k=rng.randint(4, 16))) + ".\n"
        out.append(line)
        length += len(line)
    return "".join(out).encode()[:size]


def binary_pool(size):
    # Pieces of the machine's own programs: real code, tables and resources.
    out = bytearray()
    for name in sorted(os.listdir("/usr/bin")):
        path = os.path.join("/usr/bin", name)
        if os.path.islink(path) or not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            out += f.read(size - len(out))
        if len(out) >= size:
            break
    return bytes(out)


class Contents:
    """Hands out file contents: 50% text, 35% binary, 15% incompressible."""

    def __init__(self, rng):
        self.rng = rng
        self.pools = [text_pool(rng, 4 << 20), binary_pool(16 << 20), rng.randbytes(4 << 20)]

    def take(self, size):
        u = self.rng.random()
        pool = self.pools[0 if u < 0.5 else 1 if u < 0.85 else 2]
        size = min(size, len(pool))
        at = self.rng.randrange(0, len(pool) - size + 1)
        return pool[at:at + size]


def write_tree(root, sizes, contents, rng):
    extensions = [".txt", ".dll", ".dat", ".xml", ".png", ".exe"]
    for i, size in enumerate(sizes):
        folder = os.path.join(root, "d%02d" % (i % 37), "s%d" % (i % 5))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%05d%s" % (i, rng.choice(extensions))), "wb") as f:
            f.write(contents.take(size))


def small_sizes(rng):
    return [rng.randint(300, 12 * 1024) for _ in range(20000)]


def large_sizes(rng):
    def log_uniform(lo, hi):
        return int(lo * (hi / lo) ** rng.random())
    sizes = [log_uniform(1024, 64 * 1024) for _ in range(4250)]
    sizes += [log_uniform(256 * 1024, 2 << 20) for _ in range(45)]
    rng.shuffle(sizes)
    # Scaled to 97 MB in all.
    scale = 97e6 / sum(sizes)
    return [max(1, int(s * scale)) for s in sizes]


def make_archive(work, name, sizes, seed):
    rng = random.Random(seed)
    src = os.path.join(work, name + "-src")
    write_tree(src, sizes, Contents(rng), rng)
    archive = os.path.join(work, name + ".zip")
    subprocess.run(["zip", "-q", "-r", "-6", archive, "."], cwd=src, check=True)
    shutil.rmtree(src)
    return archive


def tree_listing(root):
    listing = []
    for folder, _, files in os.walk(root):
        for f in files:
            path = os.path.join(folder, f)
            listing.append((os.path.relpath(path, root), os.path.getsize(path)))
    return sorted(listing)


def commands(lu_unzip, archive, out):
    return {
        "lu-unzip": [lu_unzip, archive, out],
        "7z x": ["7z", "x", "-y", "-o" + out, archive],
        "unzip": ["unzip", "-q", "-o", archive, "-d", out],
    }


def run_once(argv, out):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    start = time.perf_counter()
    result = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if result.returncode != 0:
        sys.exit("%s failed (%d): %s" % (argv[0], result.returncode, result.stderr.decode(errors="replace")[-500:]))
    return elapsed


def compare_trees(lu_unzip, archive, work):
    expected = None
    for tool, argv in commands(lu_unzip, archive, os.path.join(work, "check")).items():
        run_once(argv, os.path.join(work, "check"))
        listing = tree_listing(os.path.join(work, "check"))
        if expected is None:
            expected = listing
        elif listing != expected:
            sys.exit("%s wrote a different tree from lu-unzip's" % tool)
    shutil.rmtree(os.path.join(work, "check"))
    return len(expected), sum(size for _, size in expected)


def strace_per_file(argv, summary, files, env=None, top=6):
    """Runs argv under strace -f -c: its system calls per file, and the most
    frequent ones each per file."""
    subprocess.run(["strace", "-f", "-c", "-o", summary] + argv, env=env, stdout=subprocess.DEVNULL, check=True)
    counts = {}
    with open(summary) as f:
        for line in f:
            fields = line.split()
            # % time, seconds, usecs/call, calls, [errors,] syscall
            if len(fields) >= 5 and fields[3].isdigit() and not line.startswith("100.00"):
                counts[fields[-1]] = int(fields[3])
    most = sorted(counts.items(), key=lambda kv: -kv[1])[:top]
    return sum(counts.values()) / files, ", ".join("%s %.1f" % (name, n / files) for name, n in most)


def syscalls_per_file(lu_unzip, archive, work, files):
    if not shutil.which("strace"):
        return None
    out = os.path.join(work, "strace-out")
    os.makedirs(out)
    calls = strace_per_file([lu_unzip, archive, out], os.path.join(work, "strace.txt"), files)
    shutil.rmtree(out)
    return calls


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build/linux")
    parser.add_argument("--rounds", type=int, default=int(os.environ.get("ROUNDS", "9")))
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()
    lu_unzip = os.path.realpath(os.path.join(args.build, "lu-unzip"))
    for tool in [lu_unzip, "zip", "unzip", "7z"]:
        if not shutil.which(tool):
            sys.exit("bench_extract: %s is missing" % tool)
    base = TMPFS if os.path.isdir(TMPFS) else None
    work = tempfile.mkdtemp(prefix="lu-bench-extract.", dir=base)
    try:
        shapes = [("small", "20,000 files of 0.3-12 KB", small_sizes, 16),
                  ("large", "97 MB in 4,295 files", large_sizes, 97)]
        for name, label, sizes, seed in shapes:
            start = time.perf_counter()
            archive = make_archive(work, name, sizes(random.Random(seed)), seed)
            files, size = compare_trees(lu_unzip, archive, work)
            print("%s: %d files, %.1f MB, archive %.1f MB (zip -6), made in %.0f s; the three trees agree" %
                  (label, files, size / 1e6, os.path.getsize(archive) / 1e6, time.perf_counter() - start))
            sys.stdout.flush()
            out = os.path.join(work, "out")
            argvs = commands(lu_unzip, archive, out)
            tools = list(argvs)
            times = {tool: [] for tool in tools}
            for r in range(args.rounds):
                for tool in tools[r % len(tools):] + tools[:r % len(tools)]:
                    times[tool].append(run_once(argvs[tool], out))
            shutil.rmtree(out)
            median = {tool: statistics.median(t) for tool, t in times.items()}
            ours = median["lu-unzip"]

            def versus(tool):
                ratio = median[tool] / ours
                return "%.2fx %s than %s" % (ratio if ratio >= 1 else 1 / ratio,
                                             "faster" if ratio >= 1 else "slower", tool)
            print("extract %s to tmpfs: lu-unzip %.3f s, 7z x %.3f s, unzip %.3f s "
                  "(wall, medians of %d alternated runs): lu-unzip is %s, %s" %
                  (label, ours, median["7z x"], median["unzip"], args.rounds, versus("7z x"), versus("unzip")))
            if name == "small":
                calls = syscalls_per_file(lu_unzip, archive, work, files)
                if calls:
                    print("  lu-unzip system calls per file: %.1f (%s)" % calls)
            sys.stdout.flush()
    finally:
        if args.keep:
            print("work folder kept: %s" % work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
