#!/usr/bin/env python3
"""Packages as real tools write them: lu-unzip extracts each exactly, the updater
installs each, and nothing cut or damaged passes for a package.

The archives are those of tests/data/zip (made by its make.sh with jar, bsdtar,
Info-ZIP, Python, Node and 7-Zip), and one of 70,000 entries that Python's zipfile
writes here (ZIP64 end records).

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
              "infozip_pipe.zip", "infozip_stdin.zip", "python_zip64.zip", "node_yazl.zip", "node_archiver.zip",
              "7z_deflate64_utf8.zip"]
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

    def install(self, archive_bytes):
        """A hidden installation of the package: (exit status, {name: bytes} installed,
        texts of the message box that a failed run of the Windows build shows)."""
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


def main():
    build, target = sys.argv[1], sys.argv[2]
    check = e2e.Check("real_packages_%s" % target)
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
            status, installed, _ = runner.install(data)
            check.equal("installation of %s: exit status" % archive, status, 0)
            compare(check, "installation of " + archive, installed, expected)

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
        check.equal("installation of names outside the code page: exit status", status, 1)
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
            check.equal("installation of a package %s: exit status" % what, status, 1)
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
