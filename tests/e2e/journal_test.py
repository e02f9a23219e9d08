#!/usr/bin/env python3
"""An update is all or nothing, wherever it is cut short.

Linux port:
1. Kill points. A counting run under strace lists the system calls of the
   updater's worker that change the emulated machine (renames, unlinks, mkdirs,
   rmdirs, the journal's writes, the copies); each chosen one is then a kill
   (strace -e inject=SYSCALL:signal=KILL:when=N), followed by a start against an
   unreachable server. The folder must be version 1 or version 2 whole, byte for
   byte, its program runnable, the record of installed files listing every file
   in it; the RunOnce recovery entry exists while a journal is in doubt and is
   gone after the start, and so is everything of the updater's in TEMP. The suite
   takes every 50th kill point and the first and last ten; --all takes all of
   them (scripts/kill-points).
2. The same with TEMP on a volume of its own (a tmpfs in a mount namespace; root
   only): the new files are copied in whole, then renamed into place.
3. Faults: two updaters at once (the second refuses at once, hidden with its
   status, visible with its message), a disk that fills during the copy step and
   a folder without write permission (each fails with the system's words and
   leaves version 1 whole).
4. Power cuts (a spread of the kill points; --power-cuts alone, with --all every
   one, is scripts/power-cuts): after the kill every file the run wrote and did
   not flush is cut to nothing, names kept; the next start leaves version 1 or 2
   whole.
5. Durability: a flush that fails at the commit (strace injects EIO into syncfs,
   or into one fsync where the volume cannot be flushed) undoes the update with
   status 6; a journal emptied, overwritten or with a byte flipped after a kill
   leaves its folder, puts the originals back (version 1) and ends every start
   with status 8; with the RunOnce entry deleted the next start still recovers;
   an installation on a read-only mount is status 6 with the reason logged, and
   whole once writable again.
Windows build, under Wine: a kill of the program at points of its copy step,
then a start: version 1 whole, the RunOnce entry there while in doubt, gone after.

usage: journal_test.py BUILD_DIR linux|windows [--all]
"""
import io
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import uuid
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
from install_test import APP_KEY, SYS_UNINSTALL_KEY  # noqa: E402
from signed_test import run_hidden  # noqa: E402

FOLDER = "C:\\Program Files\\Drevanto\\Kestrova"
RUNONCE = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"
RECOVER_VALUE = "!ORBAXLU_RECOVER_Kestrova"
WORK = "~ORBAXLU.journal"
UNREACHABLE = "http://127.0.0.1:1/kestrova/kestrovafull.zip"
# The calls that change the machine, none of which the transfer makes (its writes
# are plain writes, whose number varies from run to run).
CHANGES = "rename,renameat,renameat2,unlink,unlinkat,mkdir,mkdirat,rmdir,pwrite64,sendfile"
ANOTHER_RUNS = 7


def package(machine, version, small=150, big=1 << 20, extra=None):
    """Version 1 or 2: the program, the updater, small files in ten folders, one
    big file; version 2 changes every file and adds a folder of its own."""
    program = open(machine.program("kestrova-demo" if version == 1 else "kestrova-demo-2"), "rb").read()
    files = {"Kestrova" + machine.exe: (program, 0o755),
             "ORBAXLiveUpdate.exe": (open(machine.program("ORBAXLiveUpdate"), "rb").read(), 0o755),
             "data/big.bin": bytes([version]) * big}
    for i in range(small):
        files["d%d/f%03d.txt" % (i % 10, i)] = b"file %d of version %d\r\n" % (i, version) * (1 + i % 7)
    if version == 2:
        for i in range(10):
            files["added/deep/a%d.txt" % i] = b"added %d\r\n" % i
    files.update(extra or {})
    return e2e.make_package(files)


def folder_tree(machine):
    return e2e.tree(machine.host(FOLDER))


def recorded(machine):
    record = machine.reg_values(APP_KEY + "\\Uninstall") or {}
    return {f.lower() for f in record.get("Files", ("", ""))[1].split(";") if f}


def updater_leftovers(machine):
    return sorted(n for n in os.listdir(machine.temp_dir()) if n.startswith("ORBAXLU-"))


def recover_entry(machine):
    return (machine.reg_values(RUNONCE) or {}).get(RECOVER_VALUE)


class Rig:
    """An installed version 1 to start every case from, version 2 served, an
    updater pointed at it and one pointed at no server."""

    def __init__(self, machine, server, v1_package):
        self.machine = machine
        self.v1_package = v1_package
        self.updater = updater_copy(machine, server.url, "updater-v2")
        # A start that recovers, then is refused plain http before it would wait
        # out the retries of a server that is not there (exit status 3).
        self.recoverer = updater_copy(machine, UNREACHABLE, "recoverer", AllowUnauthenticated="0")
        self.install_v1()
        self.v1 = folder_tree(machine)
        if machine.target == "linux":
            self.template = os.path.join(machine.root, "template")
            shutil.copytree(machine.prefix, self.template, symlinks=True)

    def install_v1(self):
        machine = self.machine
        machine.forget_installation(FOLDER, (APP_KEY, SYS_UNINSTALL_KEY))
        with e2e.PackageServer(self.v1_package) as first:
            r = machine.run(updater_copy(machine, first.url, "installer-v1"), ["/HIDE"])
        assert r.returncode == 0, r.stderr
        forget_start(machine)

    def restore(self):
        """Version 1 as installed, from a copy of the machine (the Linux port)."""
        shutil.rmtree(self.machine.prefix)
        shutil.copytree(self.template, self.machine.prefix, symlinks=True)
        for name in os.listdir(self.machine.tmp):
            path = os.path.join(self.machine.tmp, name)
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.remove(path)


def updater_copy(machine, url, name, **fields):
    """A copy of the updater of its own name, pointed at url."""
    path = os.path.join(machine.root, name + machine.exe)
    shutil.copy(machine.updater(url, **fields), path)
    return path


def forget_start(machine):
    """Waits for the note the started application leaves, and removes it."""
    started = os.path.join(machine.host(FOLDER), "kestrova-started.txt")
    assert e2e.wait_until(lambda: os.path.exists(started), 60), "the application never started"
    os.remove(started)


def expected_v2(rig, v2_package):
    want = dict(rig.v1)
    with tempfile.TemporaryDirectory() as unpacked:
        zipfile.ZipFile(io.BytesIO(v2_package)).extractall(unpacked)
        want.update(e2e.tree(unpacked))
    return want


def check_whole(check, what, machine, rig, v2, program_version=True):
    """Version 1 or 2 whole, runnable, recorded; nothing in doubt, TEMP clean."""
    got = folder_tree(machine)
    version = 1 if got == rig.v1 else 2 if got == v2 else None
    if version is None:
        mixed = sorted(k for k in set(got) | set(rig.v1) | set(v2) if got.get(k) not in (rig.v1.get(k), v2.get(k)))
        check.true("%s: the folder is neither version whole (%s)" % (what, ", ".join(mixed[:5])), False)
        return
    program = os.path.join(machine.host(FOLDER), "Kestrova" + machine.exe)
    if program_version and machine.target == "linux":
        r = subprocess.run([program], cwd=machine.tmp, env=machine.env, capture_output=True, timeout=60)
        check.true("%s: the program of version %d runs" % (what, version),
                   b"Kestrova %d.0 started" % version in r.stdout)
        started = os.path.join(machine.tmp, "kestrova-started.txt")
        if os.path.exists(started):
            os.remove(started)
    listed = recorded(machine)
    unlisted = [n for n in got if (FOLDER + "\\" + n.replace("/", "\\")).lower() not in listed]
    check.equal("%s: files the record of version %d does not list" % (what, version), unlisted, [])
    check.equal("%s: the RunOnce recovery entry" % what, recover_entry(machine), None)
    check.equal("%s: what TEMP holds of the updater" % what, updater_leftovers(machine), [])
    return version


def worker_changes(log, prefix):
    """The kill points a counting run's log shows: (syscall, its number in the
    thread that made it), for the calls of the thread that changed the machine
    most, in order."""
    counts, changes = {}, {}
    line_re = re.compile(r"^(\d+)\s+(\w+)\(")
    for line in log.splitlines():
        m = line_re.match(line)
        if not m:
            continue
        tid, name = m.group(1), m.group(2)
        counts[(tid, name)] = counts.get((tid, name), 0) + 1
        if prefix in line:
            changes.setdefault(tid, []).append((name, counts[(tid, name)]))
    return max(changes.values(), key=len) if changes else []


def chosen(points, every):
    if every:
        return list(range(len(points)))
    picked = set(range(min(10, len(points)))) | set(range(max(0, len(points) - 10), len(points)))
    picked |= set(range(0, len(points), 50))
    return sorted(picked)


def strace_run(machine, argv, strace_args, namespace_tmpfs=False):
    command = ["strace", "-f", "-qq"] + strace_args + argv
    if namespace_tmpfs:
        script = 'mount -t tmpfs tmpfs "$TMPDIR" && exec "$@"'
        command = ["unshare", "-m", "sh", "-c", script, "sh"] + command
    return subprocess.run(command, env=machine.env, capture_output=True, timeout=300)


def next_start(check, what, machine, rig, v2, versions):
    """The start after a kill, without a server: one version whole, counted."""
    r = machine.run(rig.recoverer, ["/HIDE"])
    check.equal("%s: the next start, without a server" % what, r.returncode, 3)
    version = check_whole(check, what, machine, rig, v2)
    if version:
        versions[version] += 1


def kill_points(check, machine, rig, v2, every, namespace_tmpfs):
    label = "TEMP on a volume of its own" if namespace_tmpfs else "TEMP on the installation's volume"
    rig.restore()
    log = os.path.join(machine.root, "count.log")
    r = strace_run(machine, [rig.updater, "/HIDE"], ["-y", "-e", "trace=" + CHANGES, "-o", log], namespace_tmpfs)
    check.equal("%s: the counting run's exit status" % label, r.returncode, 0)
    points = worker_changes(open(log, errors="replace").read(), machine.prefix)
    check.true("%s: the counting run changed the machine (%d calls)" % (label, len(points)), len(points) > 100)
    versions = {1: 0, 2: 0}
    for i in chosen(points, every):
        name, n = points[i]
        what = "%s: kill %d of %d at %s #%d" % (label, i + 1, len(points), name, n)
        rig.restore()
        r = strace_run(machine, [rig.updater, "/HIDE"],
                       ["-o", "/dev/null", "-e", "trace=" + name, "-e", "inject=%s:signal=KILL:when=%d" % (name, n)],
                       namespace_tmpfs)
        check.true("%s: the updater was killed (exit status %d)" % (what, r.returncode),
                   r.returncode in (-signal.SIGKILL, 128 + signal.SIGKILL))
        work = os.path.join(machine.host(FOLDER), WORK)
        journal = os.path.join(work, "journal")
        if os.path.exists(journal) and os.path.getsize(journal) > 0:
            entry = recover_entry(machine)
            check.true("%s: a journal in doubt has its RunOnce entry" % what,
                       entry is not None and (FOLDER + "\\" + WORK) in entry[1])
        next_start(check, what, machine, rig, v2, versions)
    print("%s: %d kill points of %d, version 1 after %d, version 2 after %d" %
          (label, len(chosen(points, every)), len(points), versions[1], versions[2]))
    check.true("%s: some kills undo the update, some complete it" % label, versions[1] > 0 and versions[2] > 0)


# What a power cut can lose: the data written since the file's last flush. Names
# are kept (the file system's own journal orders them); every file written and not
# flushed since is cut to nothing, as the worst a disk may do.
WRITES = "write,pwrite64,writev,sendfile,ftruncate,fallocate"
FLUSHES = "fsync,fdatasync,syncfs"
NAMES = "rename,renameat,renameat2,unlink,unlinkat"


def unflushed(log):
    """The host paths of the files a traced run wrote and did not flush, as they
    are named at its end."""
    dirty = set()
    fd_path = re.compile(r"^\d+\s+(\w+)\((?:\d+<([^>]*)>)?(.*)$")
    quoted = re.compile(r'"((?:[^"\\]|\\.)*)"')
    for line in log.splitlines():
        m = fd_path.match(line)
        if not m or "= -1" in line:
            continue
        name, path, rest = m.groups()
        # A write that began may have happened; a flush is done only once it returned.
        if "<unfinished" in line and name not in ("write", "pwrite64", "writev", "sendfile"):
            continue
        if name in ("write", "pwrite64", "writev", "ftruncate", "fallocate") and path:
            dirty.add(path)
        elif name == "sendfile" and path:
            dirty.add(path)
        elif name in ("fsync", "fdatasync") and path:
            dirty.discard(path)
        elif name == "syncfs":
            dirty.clear()
        elif name.startswith("rename"):
            names = quoted.findall(line)
            if len(names) >= 2:
                old, new = names[0], names[1]
                for p in list(dirty):
                    if p == old or p.startswith(old + "/"):
                        dirty.discard(p)
                        dirty.add(new + p[len(old):])
        elif name.startswith("unlink"):
            names = quoted.findall(line)
            for n in names[:1]:
                dirty = {p for p in dirty if not (p == n or p.endswith("/" + n))}
    return dirty


def power_cuts(check, machine, rig, v2, every):
    """A cut at the kill points: the kill, then what was not flushed cut to nothing;
    the next start must leave version 1 or 2 whole."""
    rig.restore()
    log = os.path.join(machine.root, "count.log")
    strace_run(machine, [rig.updater, "/HIDE"], ["-y", "-e", "trace=" + CHANGES, "-o", log])
    points = worker_changes(open(log, errors="replace").read(), machine.prefix)
    picked = chosen(points, every) if every else list(range(0, len(points), max(1, len(points) // 12)))[1:]
    versions = {1: 0, 2: 0}
    trace = os.path.join(machine.root, "cut.log")
    for i in picked:
        name, n = points[i]
        what = "power cut %d of %d at %s #%d" % (i + 1, len(points), name, n)
        rig.restore()
        strace_run(machine, [rig.updater, "/HIDE"],
                   ["-y", "-s", "4096", "-o", trace, "-e", "trace=%s,%s,%s,mkdir,mkdirat,rmdir" % (WRITES, FLUSHES, NAMES),
                    "-e", "inject=%s:signal=KILL:when=%d" % (name, n)])
        for path in unflushed(open(trace, errors="replace").read()):
            if os.path.isfile(path) and not os.path.islink(path):
                os.truncate(path, 0)
        next_start(check, what, machine, rig, v2, versions)
    print("power cuts: %d points of %d, version 1 after %d, version 2 after %d" %
          (len(picked), len(points), versions[1], versions[2]))


def tree_differences(got, want):
    """The names whose content differs, for a message of a readable size."""
    return sorted(k for k in set(got) | set(want) if got.get(k) != want.get(k))[:8]


def log_text(machine):
    path = os.path.join(machine.temp_dir(), "ORBAXLiveUpdate.log")
    return open(path, errors="replace").read() if os.path.exists(path) else ""


def without_work(machine):
    return {k: v for k, v in folder_tree(machine).items() if not k.startswith(WORK + "/")}


def worker_calls(log, marker):
    """The calls of the thread whose write holds marker, each with its number among
    that thread's calls of its kind, and the index of that write among them."""
    line_re = re.compile(r"^(\d+)\s+(\w+)\((.*)$")
    calls, counts, worker = {}, {}, None
    for line in log.splitlines():
        m = line_re.match(line)
        if not m:
            continue
        tid, name, rest = m.groups()
        counts[(tid, name)] = counts.get((tid, name), 0) + 1
        calls.setdefault(tid, []).append((name, counts[(tid, name)], rest))
        if worker is None and marker in rest:
            worker = (tid, len(calls[tid]) - 1)
    return (calls[worker[0]], worker[1]) if worker else ([], 0)


def kill_at(machine, rig, name, n):
    rig.restore()
    return strace_run(machine, [rig.updater, "/HIDE"],
                      ["-o", "/dev/null", "-e", "trace=" + name, "-e", "inject=%s:signal=KILL:when=%d" % (name, n)])


def middle_rename(machine, rig):
    """A kill point of the copy step with half the originals moved aside."""
    rig.restore()
    log = os.path.join(machine.root, "renames.log")
    strace_run(machine, [rig.updater, "/HIDE"], ["-y", "-e", "trace=" + CHANGES, "-o", log])
    points = [p for p in worker_changes(open(log, errors="replace").read(), machine.prefix) if p[0] == "renameat2"]
    return points[len(points) // 3]


def durability(check, machine, rig, v2):
    """Nothing is committed that is not on the disk, and a journal that cannot be
    read never costs the originals."""
    # A disk whose flush fails at the commit: the update is undone, status 6.
    rig.restore()
    trace = os.path.join(machine.root, "flushes.log")
    strace_run(machine, [rig.updater, "/HIDE"],
               ["-y", "-s", "64", "-e", "trace=fsync,write,syncfs", "-e", "inject=syncfs:error=ENOSYS", "-o", trace])
    calls, commit = worker_calls(open(trace, errors="replace").read(), "Step commit: start")
    flushes = [(n, rest) for name, n, rest in calls[commit:] if name == "fsync"]
    hives = [n for n, rest in flushes if rest.startswith("%s>" % machine.prefix) or "<%s>" % machine.prefix in rest]
    placed = [n for n, rest in flushes if machine.host(FOLDER) in rest and "/" + WORK + "/" not in rest]
    cases = [("the volume's flush fails", ["-e", "inject=syncfs:error=EIO"])]
    if hives and placed:
        cases += [("the registry's flush fails", ["-e", "inject=syncfs:error=ENOSYS", "-e",
                                                   "inject=fsync:error=EIO:when=%d" % hives[0]]),
                  ("a new file's flush fails", ["-e", "inject=syncfs:error=ENOSYS", "-e",
                                                 "inject=fsync:error=EIO:when=%d" % placed[len(placed) // 2]])]
    check.true("the commit flushes files one by one where the volume cannot be (%d)" % len(placed), len(placed) > 100)
    for what, inject in cases:
        rig.restore()
        r = strace_run(machine, [rig.updater, "/HIDE"], ["-o", "/dev/null"] + inject)
        check.equal("%s: exit status" % what, r.returncode, 6)
        check.true("%s: the system's message in the log" % what,
                   "I/O device error" in log_text(machine))
        check.equal("%s: the folder is version 1" % what, check_whole(check, what, machine, rig, v2), 1)

    # A journal that cannot be read: the originals go back, the folder stays.
    point = middle_rename(machine, rig)
    for how in ("emptied", "overwritten", "a byte flipped in the middle"):
        what = "a journal %s after a kill" % how
        kill_at(machine, rig, *point)
        journal = os.path.join(machine.host(FOLDER), WORK, "journal")
        data = bytearray(open(journal, "rb").read())
        if how == "emptied":
            data = b""
        elif how == "overwritten":
            data = bytearray(os.urandom(len(data)))
        else:
            lines = data.split(b"\n")
            middle = sum(len(line) + 1 for line in lines[:len(lines) // 2]) + 3
            data[middle] ^= 0x20
        open(journal, "wb").write(bytes(data))
        for start in ("the next start", "a start after it"):
            r = machine.run(rig.recoverer, ["/HIDE"])
            check.equal("%s: %s" % (what, start), r.returncode, 8)
            # Every file of version 1 as it was; what the update added stays, as
            # only the journal named it.
            got = without_work(machine)
            check.equal("%s: %s leaves version 1's files" % (what, start),
                        tree_differences({k: got.get(k) for k in rig.v1}, rig.v1), [])
            check.true("%s: %s keeps the journal's folder" % (what, start),
                       os.path.isdir(os.path.join(machine.host(FOLDER), WORK)))
        check.true("%s: named in the log" % what, "journal of an interrupted update is damaged" in log_text(machine))

    # The RunOnce entry gone (a cleaner, a lost write): the installed folder is looked at.
    kill_at(machine, rig, *point)
    user_reg = os.path.join(machine.prefix, "user.reg")
    text = open(user_reg, encoding="latin-1").read()
    open(user_reg, "w", encoding="latin-1").write(
        "".join(line for line in text.splitlines(True) if RECOVER_VALUE not in line))
    r = machine.run(rig.recoverer, ["/HIDE"])
    check.equal("the RunOnce entry deleted after a kill: the next start", r.returncode, 3)
    check_whole(check, "the RunOnce entry deleted after a kill", machine, rig, v2)

    # An installation that cannot be written: recovery says so and tries again.
    if os.geteuid() != 0 or not shutil.which("unshare"):
        print("a read-only installation: skipped (needs root for a mount namespace)")
        return
    kill_at(machine, rig, *point)
    host = machine.host(FOLDER)
    script = 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && exec "$2" /HIDE'
    r = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", host, rig.recoverer], env=machine.env,
                       capture_output=True, timeout=300)
    check.equal("a read-only installation: exit status", r.returncode, 6)
    check.true("a read-only installation: the log names the folder and why",
               "Recovery: " in log_text(machine) and "The media is write protected." in log_text(machine))
    r = machine.run(rig.recoverer, ["/HIDE"])
    check.equal("a read-only installation, writable again: the next start", r.returncode, 3)
    check_whole(check, "a read-only installation, writable again", machine, rig, v2)


def faults(check, machine, rig, v2, v2_package):
    # Two updaters at once: the second touches nothing, and says so.
    if machine.target == "linux":
        rig.restore()
    else:
        rig.install_v1()
    release = threading.Event()
    with e2e.PackageServer(v2_package, hold=release) as server:
        first = subprocess.Popen(machine.command(machine.updater(server.url), ["/HIDE"]), env=machine.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            check.true("the first updater asks for the package", e2e.wait_until(lambda: server.requests, 120))
            hidden = machine.run(rig.updater, ["/HIDE"], timeout=120)
            check.equal("a second hidden updater's exit status", hidden.returncode, ANOTHER_RUNS)
            if machine.target == "linux":
                shown = machine.run(rig.updater, [], stdin=b"", timeout=120)
                check.equal("a second visible updater's exit status", shown.returncode, ANOTHER_RUNS)
                check.true("the second visible updater says why (%r)" % shown.stderr[-200:],
                           b"Another installation is already in progress." in shown.stderr)
        finally:
            release.set()
            first.wait(timeout=300)
        check.equal("the first updater's exit status", first.returncode, 0)
    forget_start(machine)
    check.equal("after two updaters at once: the folder", folder_tree(machine), v2)
    if machine.target != "linux":
        return

    # Another account's run folder in a shared TEMP, holding a link to this user's
    # files (as root; else a link of the same user's): a start never follows it.
    rig.restore()
    victim = os.path.join(machine.root, "victim")
    os.makedirs(victim, exist_ok=True)
    open(os.path.join(victim, "secret.txt"), "w").write("mine")
    planted = os.path.join(machine.tmp, "ORBAXLU-{%s}" % str(uuid.uuid4()).upper())
    os.mkdir(planted)
    os.symlink(victim, os.path.join(planted, "link"))
    other = os.geteuid() == 0
    if other:
        os.chown(os.path.join(planted, "link"), 65534, 65534, follow_symlinks=False)
        os.chown(planted, 65534, 65534)
    r = machine.run(rig.recoverer, ["/HIDE"])
    check.equal("a link planted in TEMP: the start", r.returncode, 3)
    check.equal("a link planted in TEMP: what it leads to", os.listdir(victim), ["secret.txt"])
    check.equal("a link planted in TEMP: another account's folder stays, this user's goes",
                os.path.isdir(planted), other)
    shutil.rmtree(planted, ignore_errors=True)

    # A disk that fills in the copy step: the installation on a small volume of its
    # own, TEMP elsewhere, version 2 larger than what is left there.
    rig.restore()
    host = machine.host(FOLDER)
    after = os.path.join(machine.root, "after")
    shutil.rmtree(after, ignore_errors=True)
    room = sum(len(v) for v in rig.v1.values()) + (3 << 20)
    with e2e.PackageServer(package(machine, 2, extra={"data/huge.bin": os.urandom(6 << 20)})) as server:
        script = ('cp -a "$1" "$1.saved" && mount -t tmpfs -o size=%d tmpfs "$1" && cp -a "$1.saved/." "$1/" && '
                  'rm -rf "$1.saved"; "$2" /HIDE; echo $? >"$3.status"; mkdir "$3"; cp -a "$1/." "$3/"') % room
        r = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", host, machine.updater(server.url), after],
                           env=machine.env, capture_output=True, timeout=300)
    check.equal("a full disk: exit status", open(after + ".status").read().strip(), "6")
    check.true("a full disk is named (%r)" % r.stderr[-300:], b"There is not enough space on the disk." in r.stderr)
    check.equal("a full disk: the folder", e2e.tree(after), rig.v1)
    check.equal("a full disk: what TEMP holds of the updater", updater_leftovers(machine), [])
    check.equal("a full disk: the RunOnce recovery entry", recover_entry(machine), None)

    # A folder without write permission: the originals there cannot move aside.
    rig.restore()
    data = os.path.join(host, "data")
    os.chmod(data, 0o555)
    # root passes every permission; without its override it meets them as anyone.
    asUser = ["setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"] if os.geteuid() == 0 else []
    r = subprocess.run(asUser + [rig.updater, "/HIDE"], env=machine.env, capture_output=True, timeout=300)
    os.chmod(data, 0o755)
    check.equal("no write permission: exit status", r.returncode, 6)
    check.true("no write permission is named (%r)" % r.stderr[-300:], b"Access is denied." in r.stderr)
    check.equal("no write permission: the folder is version 1", check_whole(check, "no write permission", machine,
                                                                             rig, v2), 1)


def windows_kills(check, machine, rig, v2):
    """Kills of the Windows program when the copy step has moved some originals
    aside, then a start."""
    work = os.path.join(machine.host(FOLDER), WORK)

    def aside_count():
        """The originals moved aside so far, each under its own path."""
        kept = os.path.join(work, "o-1")
        return sum(len(files) for _, _, files in os.walk(kept)) if os.path.isdir(kept) else 0

    for fraction in (0.0, 0.5):
        what = "Windows, killed after %d%% of the originals" % (fraction * 100)
        rig.install_v1()
        originals = len([n for n in rig.v1 if not n.startswith("kestrova")])
        proc = subprocess.Popen(machine.command(rig.updater, ["/HIDE"]), env=machine.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        moved = e2e.wait_until(lambda: aside_count() >= max(1, int(originals * fraction)), 120, 0.01)
        killed = e2e.kill_processes(os.path.basename(rig.updater))
        proc.wait(timeout=60)
        aside = aside_count()
        print("%s: %d of %d originals aside when killed" % (what, aside, originals))
        check.true("%s: killed in the copy step" % what, moved and killed)
        entry = recover_entry(machine)
        check.true("%s: the RunOnce entry names the journal" % what,
                   entry is not None and WORK in entry[1] and "/RECOVER" in entry[1])
        status, _, _ = run_hidden(machine, rig.recoverer)  # its failed download's box answered
        check.equal("%s: the next start" % what, status, 3)
        check.equal("%s: the folder is version 1" % what, folder_tree(machine), rig.v1)
        check.equal("%s: the RunOnce entry after the start" % what, recover_entry(machine), None)
        check.true("%s: no work folder" % what, not os.path.exists(work))
        check.equal("%s: what TEMP holds of the updater" % what, updater_leftovers(machine), [])


def windows_planted_link(check, machine, rig):
    """A link in a run folder of TEMP (a link of the host's, which Wine shows as a
    reparse point, as Windows shows a junction): a start never enters it. (Wine
    removes no link of the host's, so the folder may stay.)"""
    victim = os.path.join(machine.root, "victim")
    os.makedirs(victim, exist_ok=True)
    open(os.path.join(victim, "secret.txt"), "w").write("mine")
    planted = os.path.join(machine.temp_dir(), "ORBAXLU-{%s}" % str(uuid.uuid4()).upper())
    os.mkdir(planted)
    os.symlink(victim, os.path.join(planted, "link"))
    status, _, _ = run_hidden(machine, rig.recoverer)
    check.equal("Windows, a link in a run folder of TEMP: the start", status, 3)
    check.equal("Windows, a link in a run folder of TEMP: what it leads to", os.listdir(victim), ["secret.txt"])
    shutil.rmtree(planted, ignore_errors=True)


def main():
    build, target = sys.argv[1], sys.argv[2]
    every = "--all" in sys.argv[3:]
    cuts_only = "--power-cuts" in sys.argv[3:]
    if target == "linux" and not shutil.which("strace"):
        print("skipped: strace is not installed")
        sys.exit(77)
    machine = e2e.Machine(build, target)
    check = e2e.Check("journal_%s" % target)
    try:
        machine.forget_installation(FOLDER, (APP_KEY, SYS_UNINSTALL_KEY))
        # Enough files under Wine that a kill can fall inside the copy step.
        small = 150 if target == "linux" else 600
        v2_package = package(machine, 2, small)
        with e2e.PackageServer(v2_package) as server:
            rig = Rig(machine, server, package(machine, 1, small))
            v2 = expected_v2(rig, v2_package)
            if target == "linux" and cuts_only:
                power_cuts(check, machine, rig, v2, every)
            elif target == "linux":
                kill_points(check, machine, rig, v2, every, False)
                if os.geteuid() == 0 and shutil.which("unshare"):
                    kill_points(check, machine, rig, v2, every, True)
                else:
                    print("TEMP on a volume of its own: skipped (needs root for a mount namespace)")
                power_cuts(check, machine, rig, v2, False)
                durability(check, machine, rig, v2)
                faults(check, machine, rig, v2, v2_package)
            else:
                windows_kills(check, machine, rig, v2)
                windows_planted_link(check, machine, rig)
                faults(check, machine, rig, v2, v2_package)
    finally:
        machine.close()
    check.finish()


if __name__ == "__main__":
    main()
