#!/usr/bin/env python3
"""The whole hidden update against curl, 7z x and cp -a doing the same work.

Version 1 of a package is installed by the updater itself; each timed run starts
from a copy of that machine (untimed) and updates it to version 2, which nginx
serves on loopback: `ORBAXLiveUpdate /HIDE` from start to exit, against
`curl -o` + `7z x` + `cp -a` into the installation folder. Everything lies on
tmpfs (/dev/shm), or in the folder --on names (a disk, where what the updater
flushes before it commits costs what it costs). Each round runs every contestant once, in an order that
rotates from round to round; the figure is the median wall time. The folder
each leaves is compared with version 2 once before timing. Where strace is
installed, the updater's system calls per file follow.

Package shapes are one line each in SHAPES; the file generators are
bench_extract's.

Usage: bench_update.py BUILD_DIR [--compare OTHER_BUILD_DIR]... [--rounds N] [--shape NAME]... [--on FOLDER] [--keep]
  --compare  times the updater of another build too (an older one, say), in the
             same rounds; may be given again
  --shape    only this package shape (small or large); may be given again
  --on       the folder the machines lie in, instead of tmpfs
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

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_extract  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVERS = os.path.join(SOURCE, "tests", "unit", "net", "local-servers.sh")
FOLDER = "Program Files/Drevanto/Kestrova"  # the default installation folder, below drive C:

# name, label, sizes, seed
SHAPES = [
    ("small", "20,000 small files (0.3-12 KB)", bench_extract.small_sizes, 16),
    ("large", "97 MB in 4,295 files", bench_extract.large_sizes, 97),
]


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown CPU"


def write_versions(work, name, sizes, seed):
    """Version 1 and 2 of a package: the same names, every file changed, as
    ZIP archives made with Info-ZIP zip -6."""
    archives = []
    for version in (1, 2):
        rng = random.Random(seed)
        contents = bench_extract.Contents(rng)
        src = os.path.join(work, "%s-v%d" % (name, version))
        names = random.Random(seed + 1)
        extensions = [".txt", ".dll", ".dat", ".xml", ".png", ".exe"]
        pick = random.Random(seed * 7 + version)
        for i, size in enumerate(sizes):
            folder = os.path.join(src, "d%02d" % (i % 37), "s%d" % (i % 5))
            os.makedirs(folder, exist_ok=True)
            data = contents.take(size)
            if version == 2:
                data = pick.randbytes(min(64, len(data))) + data[64:]
            with open(os.path.join(folder, "f%05d%s" % (i, names.choice(extensions))), "wb") as f:
                f.write(data)
        archive = os.path.join(work, "www", "%s-v%d.zip" % (name, version))
        subprocess.run(["zip", "-q", "-r", "-6", archive, "."], cwd=src, check=True)
        archives.append((archive, src))
    return archives


def listing(root):
    found = {}
    for folder, _, files in os.walk(root):
        for leaf in files:
            path = os.path.join(folder, leaf)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found


class Machine:
    """A machine of the Linux port on tmpfs (or where --on says): a prefix restored from a template
    before each run, and a temporary folder of its own."""

    def __init__(self, work, template):
        self.prefix = os.path.join(work, "prefix")
        self.tmp = os.path.join(work, "tmp")
        self.template = template
        self.env = dict(os.environ, ORBAX_PREFIX=self.prefix, TMPDIR=self.tmp)
        for name in ("http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
            self.env.pop(name, None)

    @property
    def folder(self):
        return os.path.join(self.prefix, "drive_c", FOLDER)

    def restore(self):
        shutil.rmtree(self.prefix, ignore_errors=True)
        shutil.rmtree(self.tmp, ignore_errors=True)
        os.makedirs(self.tmp)
        if self.template:
            subprocess.run(["cp", "-a", self.template, self.prefix], check=True)
        else:
            os.makedirs(os.path.join(self.prefix, "drive_c"))


class Server:
    """nginx on loopback serving the packages. It ends by itself after five
    minutes (local-servers.sh), so it is started again when it has."""

    def __init__(self, work):
        self.work = work
        self.dir = os.path.join(work, "server")
        self.lu_defaults = None
        self.started = 0.0
        self.port = None
        self.pointed = {}

    def ensure(self):
        if self.port and time.monotonic() - self.started < 240:
            return
        self.stop()
        os.makedirs(self.dir)
        os.symlink(os.path.join(self.work, "www"), os.path.join(self.dir, "www"))
        if subprocess.run([SERVERS, "http", self.dir], stdout=subprocess.DEVNULL).returncode != 0:
            sys.exit("bench_update: nginx did not start")
        with open(os.path.join(self.dir, "ports")) as f:
            self.port = next(line.split()[1] for line in f if line.startswith("http "))
        self.started = time.monotonic()

    def url(self, name):
        self.ensure()
        return "http://127.0.0.1:%s/%s" % (self.port, name)

    def point(self, program, name):
        """Points a copy of the updater at a package."""
        url = self.url(name)
        if self.pointed.get(program) != url:
            subprocess.run([self.lu_defaults, program, "DefaultDownloadURL", url], check=True,
                           stdout=subprocess.DEVNULL)
            self.pointed[program] = url

    def stop(self):
        if os.path.isdir(self.dir):
            subprocess.run([SERVERS, "stop", self.dir], stdout=subprocess.DEVNULL)
        shutil.rmtree(self.dir, ignore_errors=True)
        self.port = None


def updater_copy(build, lu_defaults, path):
    shutil.copy(os.path.join(build, "ORBAXLiveUpdate"), path)
    subprocess.run([lu_defaults, path, "AllowUnauthenticated", "1"], check=True, stdout=subprocess.DEVNULL)
    return path


def timed(argvs, env):
    start = time.perf_counter()
    for argv in argvs:
        r = subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if r.returncode != 0:
            sys.exit("%s failed (%d): %s" % (argv[0], r.returncode, r.stderr.decode(errors="replace")[-500:]))
    return time.perf_counter() - start


def syscalls_per_file(updater, machine, work, files):
    machine.restore()
    return bench_extract.strace_per_file([updater, "/HIDE"], os.path.join(work, "strace.txt"), files, machine.env, 8)


def step_syscalls_per_file(updater, machine, work, files):
    """System calls per file, all threads, from one traced run: of the unpack
    step (from the making of the extraction folder to that of the journal's work
    folder, the stop step's few calls with it), of the copy step (from there until
    the journal's file is removed as the update commits, the configuration and
    the settings with it) and of the commit (the originals removed, until the
    application starts)."""
    machine.restore()
    trace = os.path.join(work, "trace.txt")
    subprocess.run(["strace", "-f", "-qq", "-o", trace, updater, "/HIDE"], env=machine.env,
                   stdout=subprocess.DEVNULL, check=True)
    steps = {"unpack": {}, "copy": {}, "commit": {}}
    step = None
    with open(trace, errors="replace") as f:
        for line in f:
            fields = line.split(None, 1)
            if len(fields) < 2 or fields[1].startswith(("<...", "---", "+++")):
                continue
            call = fields[1].split("(", 1)[0]
            if step is None and call == "mkdir" and \
                    os.path.basename(os.path.dirname(line.split('"')[1])).startswith("ORBAXLU-"):
                step = "unpack"
            elif step == "unpack" and call == "mkdir" and "~ORBAXLU.journal" in line:
                step = "copy"
            elif step == "copy" and call == "unlink" and "~ORBAXLU.journal/journal" in line:
                step = "commit"
            elif step == "commit" and call == "chdir":
                break
            if step:
                steps[step][call] = steps[step].get(call, 0) + 1
    os.remove(trace)
    lines = []
    for name, counts in steps.items():
        most = sorted(counts.items(), key=lambda kv: -kv[1])[:8]
        lines.append("%s step %.1f (%s)" % (name, sum(counts.values()) / files,
                                           ", ".join("%s %.2f" % (c, n / files) for c, n in most)))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", nargs="?", default="build/linux")
    parser.add_argument("--compare", action="append", default=[],
                        help="another build whose updater is timed in the same rounds (may be given again)")
    parser.add_argument("--rounds", type=int, default=int(os.environ.get("ROUNDS", "5")))
    parser.add_argument("--shape", action="append", choices=[shape[0] for shape in SHAPES],
                        help="only this package shape (may be given again)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--on", metavar="FOLDER",
                        help="lay the machines in FOLDER (a disk, where flushes cost) instead of tmpfs")
    args = parser.parse_args()
    builds = [("updater", os.path.realpath(args.build))]
    for n, other in enumerate(args.compare, 1):
        builds.append(("compared%d" % n, os.path.realpath(other)))
    lu_defaults = os.path.join(builds[0][1], "lu-defaults")
    for tool in [lu_defaults, "zip", "7z", "curl", "/usr/sbin/nginx"] + [os.path.join(b, "ORBAXLiveUpdate")
                                                                          for _, b in builds]:
        if not shutil.which(tool):
            sys.exit("bench_update: %s is missing" % tool)
    print("CPU: %s" % cpu_model())
    for who, build in builds[1:]:
        print("%s: %s" % (who, build))
    base = args.on or ("/dev/shm" if os.path.isdir("/dev/shm") else None)
    work = tempfile.mkdtemp(prefix="lu-bench-update.", dir=base)
    try:
        os.makedirs(os.path.join(work, "www"))
        for name, label, sizes, seed in SHAPES:
            if args.shape and name not in args.shape:
                continue
            start = time.perf_counter()
            (v1, v1_tree), (v2, v2_tree) = write_versions(work, name, sizes(random.Random(seed)), seed)
            want = listing(v2_tree)
            shutil.rmtree(v1_tree)
            shutil.rmtree(v2_tree)
            files = len(want)
            print("%s: package of %.1f MB (zip -6), %.1f MB unpacked, made in %.0f s" %
                  (label, os.path.getsize(v2) / 1e6, sum(map(len, want.values())) / 1e6, time.perf_counter() - start))
            sys.stdout.flush()
            server = Server(work)
            server.lu_defaults = lu_defaults
            try:
                # Version 1, installed by the updater itself, is every run's starting point.
                installer = updater_copy(builds[0][1], lu_defaults, os.path.join(work, "install-v1"))
                machine = Machine(work, None)
                machine.restore()
                server.point(installer, os.path.basename(v1))
                timed([[installer, "/HIDE"]], machine.env)
                template = os.path.join(work, "prefix-v1")
                shutil.rmtree(template, ignore_errors=True)
                os.rename(machine.prefix, template)
                machine = Machine(work, template)

                package = os.path.basename(v2)
                contestants = {}
                for who, build in builds:
                    program = updater_copy(build, lu_defaults, os.path.join(work, "ORBAXLiveUpdate-" + who))
                    contestants[who] = [[program, "/HIDE"]]
                archive, extracted = os.path.join(machine.tmp, "p.zip"), os.path.join(machine.tmp, "x")
                contestants["curl+7z+cp"] = [["curl", "-s", "-f", "-o", archive, None],
                                             ["7z", "x", "-y", "-bd", "-o" + extracted, archive],
                                             ["cp", "-a", extracted + "/.", machine.folder]]

                def run(who):
                    machine.restore()
                    argvs = contestants[who]
                    if who == "curl+7z+cp":
                        argvs = [argvs[0][:-1] + [server.url(package)]] + argvs[1:]
                    else:
                        server.point(argvs[0][0], package)
                    return timed(argvs, machine.env)

                for who in contestants:
                    run(who)
                    got = {k: v for k, v in listing(machine.folder).items() if k in want}
                    if got != want:
                        sys.exit("bench_update: %s left a folder that is not version 2" % who)

                times = {who: [] for who in contestants}
                order = list(contestants)
                for r in range(args.rounds):
                    for who in order[r % len(order):] + order[:r % len(order)]:
                        times[who].append(run(who))
                median = {who: statistics.median(t) for who, t in times.items()}
                reference = median["curl+7z+cp"]
                line = "update %s on %s, medians of %d alternated runs: updater %.3f s" % (
                    label, "tmpfs" if not args.on else args.on, args.rounds, median["updater"])
                for who, _ in builds[1:]:
                    line += ", %s %.3f s (updater %+.1f %%)" % (
                        who, median[who], 100.0 * (median["updater"] / median[who] - 1))
                line += ", curl -o + 7z x + cp -a %.3f s (updater/reference %.2f)" % (
                    reference, median["updater"] / reference)
                print(line)
                if shutil.which("strace"):
                    for who in contestants:
                        if who != "curl+7z+cp":
                            server.point(contestants[who][0][0], package)
                            print("  %s system calls per file: %.1f (%s)" %
                                  ((who,) + syscalls_per_file(contestants[who][0][0], machine, work, files)))
                            for line in step_syscalls_per_file(contestants[who][0][0], machine, work, files):
                                print("    " + line)
                sys.stdout.flush()
            finally:
                server.stop()
    finally:
        if args.keep:
            print("work folder kept: %s" % work)
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
