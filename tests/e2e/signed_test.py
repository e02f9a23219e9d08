#!/usr/bin/env python3
"""What an updater takes, by its package keys and trust settings.

With the publisher's key built in, the release statement is fetched first: one
signed by another key, for another product, expired, a bare signature, or none,
is refused before the package is asked for; one that describes another file, or
a package of another size or one longer than the statement says, is refused
after. A statement older than the installed version is refused with the
installed files left whole; the same version installs again. The package whose
statement the publisher signed installs, also with a key list where the
publisher's key comes second, and its version is recorded. Endless and
oversized answers end at their limit with TEMP left empty and (on the Linux port)
memory under 16 MB; a program without a key refuses plain http unless
AllowUnauthenticated is 1. Finally a watcher swaps an unsigned package over the
checked one the moment the unpack step begins, with the unpack slowed by a large
package: the genuine package is installed, in every run. Keys and statements are
made now with the openssl command alone, as a vendor without lu-release makes them.

usage: signed_test.py BUILD_DIR linux|windows
"""
import base64
import hashlib
import os
import random
import shutil
import stat
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
import install_test  # noqa: E402
import lifecycle_test  # noqa: E402

PACKAGE_PATH = "/kestrova/kestrovafull.zip"
SIG_PATH = PACKAGE_PATH + ".sig"
NOT_SIGNED = "not signed by its publisher"
DOWNLOAD_ERROR = "Unable to download"
OLDER = "older than the installed version"


def make_key(folder, name, *genpkey):
    """A private key file and the Base64 of its public half, as PackageKey takes it."""
    pem = os.path.join(folder, name + ".pem")
    subprocess.check_call(["openssl", "genpkey"] + list(genpkey) + ["-out", pem], stderr=subprocess.DEVNULL)
    der = subprocess.check_output(["openssl", "pkey", "-in", pem, "-pubout", "-outform", "DER"])
    return pem, subprocess.check_output(["base64", "-w0"], input=der).decode()


def statement(folder, pem, package, product="Kestrova", version="1.0", size=None, expires=None):
    """The release statement of package signed with pem: printf, openssl dgst, base64."""
    body = ("product: %s\nversion: %s\nsize: %d\nsha256: %s\n"
            % (product, version, len(package) if size is None else size, hashlib.sha256(package).hexdigest()))
    if expires:
        body += "expires: %s\n" % expires
    path = os.path.join(folder, "statement")
    with open(path, "wb") as f:
        f.write(body.encode())
    signature = subprocess.check_output(["openssl", "dgst", "-sha256", "-sign", pem, path])
    return body.encode() + b"signature: " + base64.b64encode(signature) + b"\n"


def bare_signature(folder, pem, package):
    """A detached signature of the package itself, which is no statement."""
    path = os.path.join(folder, "kestrovafull.zip")
    with open(path, "wb") as f:
        f.write(package)
    return subprocess.check_output(["openssl", "dgst", "-sha256", "-sign", pem, path])


def run_hidden(machine, updater):
    """A hidden run: its exit status, on Windows the text of the warning box that a
    failed hidden run shows before it ends (answered with OK), and on the Linux
    port the process's peak resident memory in KB."""
    if machine.target != "windows":
        # Measured by GNU time, whose own child starts small: a child of this
        # process would count this process's memory from before its exec.
        peak = os.path.join(machine.root, "peak.txt")
        timed = ["/usr/bin/time", "-f", "%M", "-o", peak] if os.path.exists("/usr/bin/time") else []
        status = machine.run(timed[0] if timed else updater, timed[1:] + [updater, "/HIDE"] if timed else ["/HIDE"],
                             timeout=240).returncode
        return status, "", int(open(peak).read().split()[-1]) if timed else None
    p = subprocess.Popen(machine.command(updater, ["/HIDE"]), env=machine.env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    window = lifecycle_test.Window(machine)
    shown = ""
    end = time.time() + 240
    while p.poll() is None and time.time() < end:
        try:
            ok = window.find("#32770", "OK")  # the class of a message box
        except subprocess.TimeoutExpired:  # a program still being set up answers late
            ok = None
        if ok:
            shown = "\n".join(window.texts("#32770"))
            window.click(ok)
        else:
            time.sleep(0.5)
    return lifecycle_test.finish(p, 30), shown, None


def installed(folder):
    """The files in an installation folder (the folder itself is made before the download)."""
    return [os.path.join(r, f) for r, _, files in os.walk(folder) for f in files]


def read(path):
    return open(path, "rb").read() if os.path.exists(path) else None


class Runs:
    """Hidden runs against one server each, checked the same way."""

    def __init__(self, machine, check, tmp_before):
        self.machine, self.check, self.tmp_before = machine, check, tmp_before
        # A sanitizer's shadow memory is no part of what the program needs.
        with open(os.path.join(machine.build, "CMakeCache.txt")) as cache:
            self.sanitized = any(line.strip() in ("LU_SANITIZE:BOOL=ON", "LU_TSAN:BOOL=ON") for line in cache)

    def refused(self, what, package, others, fields, requests, text):
        """A run that fails: exit status 3 (2 for a download error), the requests made, the warning's text
        (Windows), the temporary folder as it was, memory bounded (Linux port)."""
        with e2e.PackageServer(package, others=others) as server:
            status, shown, peak = run_hidden(self.machine, self.machine.updater(server.url, **fields))
        self.check.equal("exit status with %s" % what, status, 2 if text == DOWNLOAD_ERROR else 3)
        self.check.equal("requests with %s" % what, [p for p, _ in server.requests], requests)
        if self.machine.target == "windows":
            self.check.true("the warning box says %r (%s): %r" % (text, what, shown), text in shown)
        if peak is not None and not self.sanitized:
            self.check.true("peak memory with %s: %d KB" % (what, peak), peak < 16 * 1024)
        self.check.equal("temporary folder left as it was with %s" % what,
                         set(os.listdir(self.machine.temp_dir())) - self.tmp_before, set())


def main():
    build, target = sys.argv[1], sys.argv[2]
    if not shutil.which("openssl"):
        print("skipped: the openssl command is missing")
        sys.exit(77)
    machine = e2e.Machine(build, target)
    check = e2e.Check("signed_%s" % target)
    folder = "C:\\Program Files\\Drevanto\\Kestrova"
    host_folder = machine.host(folder)
    try:
        machine.forget_installation(folder, (install_test.APP_KEY, install_test.SYS_UNINSTALL_KEY))
        tmp_before = set(os.listdir(machine.temp_dir())) | e2e.LOG_FILES
        runs = Runs(machine, check, tmp_before)
        keys = os.path.join(machine.root, "keys")
        os.makedirs(keys)
        publisher, key = make_key(keys, "publisher", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
        stranger, stranger_key = make_key(keys, "stranger", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048")
        v1, v2 = install_test.package(machine, 1), install_test.package(machine, 2)
        signed = dict(PackageKey=key)

        # Refused on the statement alone: the package is never asked for.
        for what, text in (("another key's statement", statement(keys, stranger, v1)),
                           ("no statement", None),
                           ("a bare signature", bare_signature(keys, publisher, v1)),
                           ("another product's statement", statement(keys, publisher, v1, product="Lumeva")),
                           ("an expired statement", statement(keys, publisher, v1, expires="2020-01-01"))):
            runs.refused(what, v1, {SIG_PATH: text} if text else {}, signed, [SIG_PATH], NOT_SIGNED)
        check.equal("nothing installed by the refused runs", installed(host_folder), [])

        # Refused after the package: another file, another size, a body longer
        # than the statement says (stopped there, not read to its end).
        other = v1[:-1] + bytes([v1[-1] ^ 1])
        runs.refused("another file's statement", v1, {SIG_PATH: statement(keys, publisher, other)}, signed,
                     [SIG_PATH, PACKAGE_PATH], NOT_SIGNED)
        runs.refused("a package of another size", v1, {SIG_PATH: statement(keys, publisher, v1, size=len(v1) - 1)},
                     signed, [SIG_PATH, PACKAGE_PATH], DOWNLOAD_ERROR)
        runs.refused("a body longer than its statement", e2e.endless_answer(v1), {SIG_PATH: statement(keys, publisher, v1)},
                     signed, [SIG_PATH, PACKAGE_PATH], DOWNLOAD_ERROR)

        # Answers without end, or announced beyond any limit, end at once or at
        # their limit.
        unsigned = dict(MaxPackageSize=str(8 << 20))
        runs.refused("an endless package", e2e.endless_answer(), {}, unsigned, [PACKAGE_PATH], DOWNLOAD_ERROR)
        runs.refused("10 TiB announced", e2e.endless_answer(length=10 << 40), {}, unsigned, [PACKAGE_PATH],
                     DOWNLOAD_ERROR)
        runs.refused("a statement of 2 GB announced", v1, {SIG_PATH: e2e.endless_answer(length=2000000000)}, signed,
                     [SIG_PATH], NOT_SIGNED)

        # Without a key, plain http is refused with its reason, unless allowed.
        runs.refused("plain http without a key", v1, {}, dict(AllowUnauthenticated="0"), [], "has no package key")
        check.equal("nothing installed by the refused runs", installed(host_folder), [])

        # What the user reads (the console front end of the Linux port).
        if target == "linux":
            for fields, said in ((dict(PackageKey=key), "is not signed by the package key"),
                                 (dict(AllowUnauthenticated="0"), "has no package key")):
                with e2e.PackageServer(v1, others={SIG_PATH: statement(keys, stranger, v1)}) as server:
                    r = machine.run(machine.updater(server.url, **fields), [], stdin=b"\n\n\n\n")
                out = r.stdout.decode("latin-1") + r.stderr.decode("latin-1")
                check.true("the finish view says why: %s" % said, said in out)
                check.equal("exit status of the visible refused run", r.returncode, 3)
            check.equal("nothing installed by the visible runs", installed(host_folder), [])
            check.equal("nor recorded", machine.reg_values(install_test.APP_KEY), None)

        # Installed: version 2, the publisher's key second in the list; its
        # version recorded and shown by the uninstall entry.
        readme = os.path.join(host_folder, "readme.txt")
        with e2e.PackageServer(v2, others={SIG_PATH: statement(keys, publisher, v2, version="2.0")}) as server:
            status, shown, _ = run_hidden(machine, machine.updater(server.url, PackageKey=stranger_key + "," + key))
        check.equal("exit status of the signed installation", status, 0)
        check.equal("no warning box", shown, "")
        check.equal("installed readme", read(readme), b"Kestrova 2\r\n")
        check.equal("recorded version", (machine.reg_values(install_test.APP_KEY) or {}).get("Version"),
                    ("REG_SZ", "2.0"))
        check.equal("version of the uninstall entry",
                    (machine.reg_values(install_test.SYS_UNINSTALL_KEY) or {}).get("DisplayVersion"), ("REG_SZ", "2.0"))
        check.equal("temporary folder left as it was after the installation",
                    set(os.listdir(machine.temp_dir())) - tmp_before, set())

        # Version 1 with its genuine statement: older, refused, version 2 whole.
        before = e2e.tree(host_folder)
        runs.refused("an older version", v1, {SIG_PATH: statement(keys, publisher, v1, version="1.0")}, signed,
                     [SIG_PATH], OLDER)
        check.true("version 2 whole after the older one was refused", e2e.tree(host_folder) == before)
        check.equal("version recorded still", (machine.reg_values(install_test.APP_KEY) or {}).get("Version"),
                    ("REG_SZ", "2.0"))

        # The same version again: a repair.
        os.remove(os.path.join(host_folder, "data", "ad.xml"))
        with e2e.PackageServer(v2, others={SIG_PATH: statement(keys, publisher, v2, version="2.0")}) as server:
            status, shown, _ = run_hidden(machine, machine.updater(server.url, **signed))
        check.equal("exit status of the repair", status, 0)
        check.equal("repaired file", read(os.path.join(host_folder, "data", "ad.xml")), b"<ad version='2'/>")

        swap_race(machine, check, keys, publisher, key, host_folder, tmp_before)
    finally:
        machine.close()
    check.finish()


def race_package(machine):
    """Version 2 with some 24 MB more to unpack, so that the unpack step lasts."""
    rnd = random.Random(7)
    words = [bytes(rnd.choice(b"abcdefghij") for _ in range(rnd.randint(3, 9))) for _ in range(4096)]
    bulk = {}
    for i in range(24):
        bulk["data/bulk%02d.bin" % i] = b" ".join(rnd.choice(words) for _ in range(170000))[:1 << 20]
    return install_test.package(machine, 2, extra=bulk)


def swap_race(machine, check, keys, publisher, key, host_folder, tmp_before):
    """The package swapped for an unsigned one the moment the unpack step begins:
    the Linux port's watcher renames it over the checked file (the run reads its
    own descriptor), the Windows one tries that and writing into it in place
    (the file is shared with nobody)."""
    genuine = race_package(machine)
    unsigned = e2e.make_package({"readme.txt": b"unsigned\r\n", "LiveUpdate.bat": b"echo swapped> swapped.txt\r\n"})
    fields = dict(PackageKey=key)
    text = statement(keys, publisher, genuine, version="2.0")
    rounds = 5 if machine.target == "linux" else 3
    for i in range(rounds):
        what = "race %d" % (i + 1)
        source = os.path.join(machine.root, "unsigned.zip")
        with open(source, "wb") as f:
            f.write(unsigned)
        with e2e.PackageServer(genuine, others={SIG_PATH: text}) as server:
            updater = machine.updater(server.url, **fields)
            if machine.target == "linux":
                result = {}
                stop = threading.Event()
                watcher = threading.Thread(target=swap_linux, args=(machine.temp_dir(), source, result, stop))
                watcher.start()
                status, _, _ = run_hidden(machine, updater)
                stop.set()
                watcher.join()
                check.true("%s: the watcher swapped the package while it was unpacked: %r" % (what, result),
                           result.get("unpacking"))
                check.equal("%s: the run's folder is the user's alone" % what, result.get("mode"), 0o700)
            else:
                report = os.path.join(machine.root, "swap-report.txt")
                for leftover in (report, report + ".ready"):
                    if os.path.exists(leftover):
                        os.remove(leftover)
                helper = os.path.join(machine.build, "tests", "lu-win32.exe")
                watcher = subprocess.Popen(machine.command(helper, ["swap", "kestrovafull.zip", winpath(source),
                                                                     winpath(report)]),
                                           env=machine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                check.true("%s: the watcher is ready" % what,
                           e2e.wait_until(lambda: os.path.exists(report + ".ready"), 120))
                status, _, _ = run_hidden(machine, updater)
                lifecycle_test.finish(watcher, 150)
                found = (read(report) or b"").replace(b"\r", b"").split(b"\n")
                check.true("%s: the watcher found the package while it was unpacked: %r" % (what, found),
                           found[0] == b"found")
                check.true("%s: neither moved over nor written: %r" % (what, found),
                           b"move 0" not in found and b"write 0" not in found)
        check.equal("%s: exit status" % what, status, 0)
        check.equal("%s: the genuine readme" % what, read(os.path.join(host_folder, "readme.txt")), b"Kestrova 2\r\n")
        check.equal("%s: the unsigned batch file never ran" % what,
                    os.path.exists(os.path.join(host_folder, "swapped.txt")), False)
        check.equal("%s: temporary folder left as it was" % what,
                    set(os.listdir(machine.temp_dir())) - tmp_before, set())


def winpath(host_path):
    """A host path as Wine names it (drive Z: is the host's root)."""
    return "Z:" + host_path.replace("/", "\\")


def swap_linux(temp, source, result, stop):
    """Watches TEMP for a run's folder whose extraction folder has appeared (the
    package has been checked), then renames source over the package there."""
    while not stop.is_set():
        try:
            runs = [e.path for e in os.scandir(temp) if e.name.startswith("ORBAXLU-")]
        except OSError:
            continue
        for run in runs:
            try:
                unpacking = [e.path for e in os.scandir(run) if e.is_dir()]
            except OSError:
                continue
            target = os.path.join(run, "kestrovafull.zip")
            if unpacking and os.path.exists(target):
                os.replace(source, target)
                result["unpacking"] = os.path.isdir(unpacking[0])
                result["mode"] = stat.S_IMODE(os.stat(run).st_mode)
                return


if __name__ == "__main__":
    main()
