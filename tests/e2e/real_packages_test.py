#!/usr/bin/env python3
"""Packages as real tools write them: lu-unzip extracts each exactly, the updater
installs each, and nothing cut, damaged or encrypted passes for a package.

The archives are those of tests/data/zip (made by its make.sh with jar, bsdtar,
Info-ZIP, Python, Node and 7-Zip), one of 70,000 entries that Python's zipfile
writes here (ZIP64 end records), and paths of more than 300 characters.

usage: real_packages_test.py BUILD_DIR linux|windows
"""
import hashlib
import io
import os
import shutil
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402

DATA = os.path.join(e2e.SOURCE, "tests", "data", "zip")
FOLDER = "C:\\Program Files\\Drevanto\\Kestrova"
KEYS = ("HKEY_CURRENT_USER\\Software\\ORBAX\\Kestrova",
        "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrova")
# The packages of tests/data/zip that real tools wrote (the others are the
# extractor's own cases: passwords, older methods).
REAL_TOOLS = ["jar_cf.zip", "jar_cf0.zip", "bsdtar_deflate.zip", "bsdtar_store.zip", "infozip_fz.zip",
              "infozip_pipe.zip", "infozip_stdin.zip", "infozip_comment64k.zip", "infozip_appended.zip",
              "infozip_sfx.zip", "infozip_modes.zip", "python_zip64.zip", "python_unicode_path.zip", "node_yazl.zip",
              "node_archiver.zip", "7z_deflate64_utf8.zip"]
# The Linux port installs of an archive's Unix modes the execute bits, under the
# umask (022 for the runs here).
MODES = {"infozip_modes.zip": {"shared.txt": 0o644, "tool.sh": 0o755, "setuid.sh": 0o755}}
# Encrypted with ZipCrypto (Info-ZIP) and AES (7-Zip), for a program without a password.
ENCRYPTED = ["zip_password.zip", "7z_aes.zip"]
BIG_ENTRIES = 70000
# What a failed unpack step reports (S_ZipEmpty in English).
ZIP_EMPTY = "The server provided an invalid file."


def manifest():
    """{archive: [(name, expect, bytes or None)]} of the file members; names as meant (Unicode)."""
    rows = {}
    with open(os.path.join(DATA, "manifest.tsv"), encoding="utf-8") as f:
        header = f.readline().rstrip("\n").split("\t")
        for line in f:
            row = dict(zip(header, line.rstrip("\n").split("\t")))
            if row["type"] != "file":
                continue
            name = row["entry"]
            while name.startswith("./"):
                name = name[2:]
            rows.setdefault(row["archive"], []).append((name, row["expect"], row["sha256"]))
    return rows


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def expected_files(members):
    return {name: sha for name, expect, sha in members if expect == "ok"}


def compare(check, what, found, expected):
    """The files found are exactly the expected ones, byte for byte."""
    check.equal(what + ": names", sorted(found), sorted(expected))
    for name, sha in expected.items():
        if name in found:
            check.equal("%s: content of %s" % (what, name), sha256(found[name]), sha)


def big_archive():
    """70,000 small files in 50 folders, as Python's zipfile writes them (ZIP64)."""
    out = io.BytesIO()
    expected = {}
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(BIG_ENTRIES):
            name = "d%02d/f%05d.txt" % (i % 50, i)
            data = b"%d\r\n" % i
            z.writestr(name, data)
            expected[name] = sha256(data)
    return out.getvalue(), expected


class Runner:
    def __init__(self, build, target, check):
        self.build, self.target, self.check = build, target, check
        self.scratch = e2e.Machine(build, target)

    def windows_path(self, host):
        return host if self.target == "linux" else "Z:" + host.replace("/", "\\")

    def unzip(self, archive_bytes, name):
        """lu-unzip on the bytes: (exit status, output, {name: bytes} extracted)."""
        base = os.path.join(self.scratch.root, name)
        os.makedirs(base)
        archive = os.path.join(base, "package.zip")
        with open(archive, "wb") as f:
            f.write(archive_bytes)
        out = os.path.join(base, "out")
        r = self.scratch.run(self.scratch.program("lu-unzip"),
                             [self.windows_path(archive), self.windows_path(out)], timeout=1800)
        found = e2e.tree(out) if os.path.isdir(out) else {}
        shutil.rmtree(base, ignore_errors=True)
        return r.returncode, r.stdout.decode("latin-1"), found

    def install(self, archive_bytes, inspect=None):
        """A hidden installation of the package: (exit status, {name: bytes} installed,
        texts of the message box that a failed run of the Windows build shows).
        inspect(machine, installed host folder) runs before the machine goes."""
        machine = e2e.Machine(self.build, self.target)
        try:
            machine.forget_installation(FOLDER, KEYS)
            with e2e.PackageServer(archive_bytes) as server:
                updater = machine.updater(server.url)
                if self.target == "windows":
                    status, box = self.run_answering_message_box(machine, updater)
                else:
                    status, box = machine.run(updater, ["/HIDE"], timeout=3600).returncode, []
            host = machine.host(FOLDER)
            if inspect:
                inspect(machine, host)
            return status, e2e.tree(host) if os.path.isdir(host) else {}, box
        finally:
            machine.forget_installation(FOLDER, KEYS)
            machine.close()

    @staticmethod
    def run_answering_message_box(machine, updater):
        """The Windows build ends a failed run, hidden or not, with a warning box:
        its texts are kept and its OK is pressed."""
        helper = os.path.join(machine.build, "tests", "lu-win32.exe")

        def ask(*args):
            return subprocess.run(machine.command(helper, list(args)), env=machine.env, capture_output=True, text=True,
                                  timeout=120)

        process = subprocess.Popen(machine.command(updater, ["/HIDE"]), env=machine.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        box = []
        end = time.time() + 3600
        while process.poll() is None and time.time() < end:
            ok = ask("find", "#32770", "OK")
            if ok.returncode == 0:
                box = ask("texts", "#32770").stdout.splitlines()
                x, y = ok.stdout.split()
                subprocess.run(["xdotool", "mousemove", x, y, "click", "1"], env=machine.env)
            time.sleep(0.5)
        try:
            return process.wait(timeout=60), box
        except subprocess.TimeoutExpired:
            process.kill()
            return None, box

    def close(self):
        self.scratch.close()


def modes_below(host, into):
    """Fills into with {name: permission bits} of the files below a host folder."""
    for folder, _, files in os.walk(host):
        for leaf in files:
            path = os.path.join(folder, leaf)
            into[os.path.relpath(path, host).replace(os.sep, "/")] = os.stat(path).st_mode & 0o7777


def strays(machine, leaf):
    """Host paths of files named leaf anywhere on the machine's drive (and its TEMP)."""
    roots = [machine.root] if machine.target == "linux" else [os.path.join(machine.prefix, "drive_c")]
    return [os.path.join(folder, leaf) for root in roots for folder, _, files in os.walk(root) if leaf in files]


def main():
    build, target = sys.argv[1], sys.argv[2]
    check = e2e.Check("real_packages_%s" % target)
    os.umask(0o022)
    members = manifest()
    runner = Runner(build, target, check)
    try:
        for archive in REAL_TOOLS:
            with open(os.path.join(DATA, archive), "rb") as f:
                data = f.read()
            expected = expected_files(members[archive])
            status, output, found = runner.unzip(data, archive)
            check.equal("lu-unzip %s: exit status" % archive, status, 0)
            if status != 0:
                print(output)
            compare(check, "lu-unzip " + archive, found, expected)
            modes = {}
            inspect = (lambda machine, host: modes_below(host, modes)) if archive in MODES else None
            status, installed, _ = runner.install(data, inspect)
            check.equal("installation of %s: exit status" % archive, status, 0)
            compare(check, "installation of " + archive, installed, expected)
            if archive in MODES and target == "linux":
                check.equal("installation of %s: modes under umask 022" % archive, modes, MODES[archive])

        # Encrypted, and no password: each entry is named, nothing is written (not even
        # an empty file), nothing is installed.
        for archive in ENCRYPTED:
            with open(os.path.join(DATA, archive), "rb") as f:
                data = f.read()
            status, output, found = runner.unzip(data, archive)
            check.equal("lu-unzip %s: exit status" % archive, status, 1)
            for name, _, _ in members[archive]:
                line = "error 25120 The entry is encrypted: " + name.replace("/", "\\")
                check.true("lu-unzip %s: %s named" % (archive, name), line in output)
            check.equal("lu-unzip %s: nothing written" % archive, found, {})
            status, installed, box = runner.install(data)
            check.equal("installation of %s: exit status" % archive, status, 4)  # damaged
            check.equal("installation of %s: nothing installed" % archive, installed, {})
            if target == "windows":
                check.true("installation of %s: the encrypted entry is named" % archive,
                           any("The entry is encrypted: " in line for line in box))

        # A path of more than 300 characters below the installation folder installs
        # (past the 260 characters of the system's ANSI functions on Windows, in TEMP
        # and in the folder); as long a path whose ".." leads out is refused.
        deep = "/".join(c * 60 for c in "abcde") + "/long name.txt"
        files = {deep: b"deep", "Kestrova.exe": b"app"}
        status, installed, _ = runner.install(e2e.make_package(files))
        check.equal("installation of a path of %d characters: exit status" % len(deep), status, 0)
        compare(check, "installation of a path of %d characters" % len(deep), installed,
                {name: sha256(content) for name, content in files.items()})
        escape = deep.rsplit("/", 1)[0] + "/" + "../" * 8 + "escape.txt"
        found = []
        status, installed, _ = runner.install(e2e.make_package({escape: b"evil", "Kestrova.exe": b"app"}),
                                              lambda machine, host: found.extend(strays(machine, "escape.txt")))
        check.equal("installation of a long path leaving the folder: exit status", status, 4)  # damaged
        check.equal("installation of a long path leaving the folder: nothing installed", installed, {})
        check.equal("installation of a long path leaving the folder: nothing written outside", found, [])

        # Names no Western code page holds: refused by name, the others extracted,
        # none collapsed into another; the package is not installed.
        with open(os.path.join(DATA, "python_cjk_names.zip"), "rb") as f:
            data = f.read()
        status, output, found = runner.unzip(data, "cjk")
        check.equal("lu-unzip of names outside the code page: exit status", status, 1)
        check.equal("lu-unzip of names outside the code page: two refused by name",
                    output.count("error 25116 "), 2)
        compare(check, "lu-unzip of names outside the code page", found,
                expected_files(members["python_cjk_names.zip"]))
        status, installed, box = runner.install(data)
        check.equal("installation of names outside the code page: exit status", status, 4)  # damaged
        check.equal("installation of names outside the code page: nothing installed", installed, {})
        if target == "windows":
            check.true("installation of names outside the code page: the unpack step's failure shows",
                       any(ZIP_EMPTY in line for line in box))
            check.true("installation of names outside the code page: and why",
                       any("code page" in line for line in box))

        # Cut short anywhere, or with a damaged central directory: never a success.
        with open(os.path.join(DATA, "node_archiver.zip"), "rb") as f:
            whole = f.read()
        directory = whole.rfind(b"PK\x01\x02")
        damaged = whole[:directory + 1] + b"X" + whole[directory + 2:]
        cuts = sorted(set(list(range(0, len(whole), 331)) + [directory + 10, len(whole) - 1]))
        for cut in cuts:
            status, _, _ = runner.unzip(whole[:cut], "cut%d" % cut)
            check.equal("lu-unzip of the first %d bytes: exit status" % cut, status, 1)
        status, output, found = runner.unzip(damaged, "damaged")
        check.equal("lu-unzip of a damaged directory: exit status", status, 1)
        check.equal("lu-unzip of a damaged directory: nothing extracted", found, {})
        for what, data in (("cut at its directory", whole[:directory + 10]), ("damaged", damaged)):
            status, installed, box = runner.install(data)
            check.equal("installation of a package %s: exit status" % what, status, 4)  # damaged
            check.equal("installation of a package %s: nothing installed" % what, installed, {})
            if target == "windows":
                check.true("installation of a package %s: the unpack step's failure shows" % what,
                           any(ZIP_EMPTY in line for line in box))

        # More entries than a 16-bit count holds.
        data, expected = big_archive()
        status, output, found = runner.unzip(data, "big")
        check.equal("lu-unzip of %d entries: exit status" % BIG_ENTRIES, status, 0)
        compare(check, "lu-unzip of %d entries" % BIG_ENTRIES, found, expected)
        status, installed, _ = runner.install(data)
        check.equal("installation of %d entries: exit status" % BIG_ENTRIES, status, 0)
        compare(check, "installation of %d entries" % BIG_ENTRIES, installed, expected)
    finally:
        runner.close()
    check.finish()


if __name__ == "__main__":
    main()
