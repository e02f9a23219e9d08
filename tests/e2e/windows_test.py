#!/usr/bin/env python3
"""The Windows build on today's Windows, under Wine and a virtual display.

1. A hidden run that fails (a 404) ends by itself: its exit status and the log's
   last line are written and its lock let go before the warning shows, other
   updaters run while it does, and the warning closes by itself after two
   minutes, the process ending with status 2.
2. A folder the user may not change goes to an elevated instance of the program.
   Wine has no UAC and runs every program with full rights, so the test refuses
   the folder itself: its mode bars writing (Wine opens files in its server,
   which runs here as root without its override), and is given back once the
   elevated instance asks for the package, as the consent prompt would give the
   rights. The user's instance hands over, passes on the
   elevated one's status, and starts the application itself.
3. An instance elevated by another account acts for the user it is given: the
   logon value, the product settings, the record, the uninstall entry and the
   shortcuts land in that user's hive and profile, none in the elevated
   account's, and it starts nothing; an instance elevated for a user whose hive
   is not there changes nothing; one refused the folder fails without asking
   again.

usage: windows_test.py BUILD_DIR windows
"""
import os
import shutil
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
from install_test import APP_KEY, RUN_KEY, SYS_UNINSTALL_KEY, package, wait_for  # noqa: E402
from lifecycle_test import Window, finish  # noqa: E402

FOLDER = "C:\\Program Files\\Drevanto\\Kestrova"
REFUSED = "C:\\Program Files\\Drevanto\\Refused"
OTHER = "S-1-5-21-7-7-7-1001"  # a user of the machine who is not the elevated account
OTHER_PROFILE = "C:\\users\\other"
NOTICE_SECONDS = 120
# root meets a folder's mode only without its override.
AS_USER = ["setpriv", "--bounding-set=-dac_override,-dac_read_search", "--"] if os.geteuid() == 0 else []
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def win(path):
    return "Z:" + path.replace("/", "\\")


class Runs:
    """Copies of the updater, each with a log of its own."""

    def __init__(self, machine):
        self.machine = machine
        self.count = 0

    def updater(self, url):
        self.count += 1
        folder = os.path.join(self.machine.root, "run%d" % self.count)
        os.makedirs(folder)
        path = os.path.join(folder, "ORBAXLiveUpdate.exe")
        shutil.move(self.machine.updater(url), path)
        return path, os.path.join(folder, "run.log")

    def start(self, url, args):
        """A run started in the background: (process, its log's host path)."""
        program, log = self.updater(url)
        command = self.machine.command(program, list(args) + ["/LOG=" + win(log)])
        return subprocess.Popen(command, env=self.machine.env, **QUIET), log

    def run(self, url, args):
        process, log = self.start(url, args)
        return finish(process, 300), log


def wine_server(machine, as_user):
    """Restarts the prefix's Wine server, which opens the files of its programs:
    as_user, without root's override, so that a folder's mode holds for them."""
    subprocess.run(["wineserver", "-k"], env=machine.env, timeout=120, **QUIET)
    subprocess.run(["wineserver", "-w"], env=machine.env, timeout=120, **QUIET)
    subprocess.run((AS_USER if as_user else []) + ["wineserver", "-p"], env=machine.env, timeout=120, **QUIET)
    # Its services start with the first program: detached here, or a run whose
    # output is read would wait for the pipes they inherit.
    subprocess.run(machine.command("cmd", ["/c", "exit"]), env=machine.env, timeout=120, **QUIET)


def find(window, cls, text):
    try:
        return window.find(cls, text)
    except subprocess.TimeoutExpired:  # a Wine busy starting answers late
        return None


def remove(path):
    if os.path.exists(path):
        os.remove(path)


def lines(log):
    return open(log, "rb").read().decode("latin-1").splitlines() if os.path.exists(log) else []


def where(log, text):
    """The index of the first line holding text; -1 when none does."""
    return next((i for i, line in enumerate(lines(log)) if text in line), -1)


def reg_add(machine, key, name, value):
    subprocess.run(machine.command("reg", ["add", key, "/v", name, "/d", value, "/f"]), env=machine.env,
                   capture_output=True, timeout=120, check=True)


def hand_over(check, machine, runs, package2):
    """The folder refused to the user's instance: the elevated one updates it, the
    user's starts the application. Returns the user's identifier the log gives."""
    host = machine.host(FOLDER)
    started = os.path.join(host, "kestrova-started.txt")
    remove(started)
    release = threading.Event()
    with e2e.PackageServer(package2, hold=release) as server:
        os.chmod(host, 0o555)
        try:
            process, log = runs.start(server.url, ["/HIDE"])
            asked = e2e.wait_until(lambda: server.requests, 120)
            check.true("the elevated instance asks for the package", asked)
            check.true("the user's instance hands over (%r)" % lines(log)[-5:],
                       where(log, "needs an administrator's rights: the run goes to an elevated instance") >= 0)
        finally:
            os.chmod(host, 0o755)  # the rights the consent prompt gives
            release.set()
        status = finish(process, 300)
    check.equal("the hand-over's exit status", status, 0)
    check.equal("the update in place", open(os.path.join(host, "readme.txt"), "rb").read(), b"Kestrova 2\r\n")
    check.true("the application was started", wait_for(started, 60))
    elevated = where(log, "Elevated, for the user S-1-")
    left = where(log, "The application is left to the user's own instance to start")
    ended = where(log, "The elevated instance ended with exit status 0")
    user = where(log, "Starting the application as the user")
    check.true("one log, in order: elevated, left, ended, started (%d %d %d %d)" % (elevated, left, ended, user),
               0 <= elevated < left < ended < user)
    check.true("the log ends with the exit status", lines(log)[-1].endswith("Exit status 0"))
    sid = lines(log)[elevated].rsplit(" ", 1)[-1] if elevated >= 0 else ""
    values = machine.reg_values("HKEY_USERS\\%s\\Software\\ORBAX\\Kestrova" % sid) or {}
    check.equal("the product settings in the user's own hive", values.get("Language"), ("REG_SZ", "EN"))
    return sid


def refused_when_elevated(check, machine, runs, sid, url):
    """An elevated instance refused the folder asks nobody again: it fails with 6.
    Returns the process (whose warning stays two minutes) and its log."""
    os.makedirs(machine.host(REFUSED), exist_ok=True)
    open(os.path.join(machine.host(REFUSED), "readme.txt"), "wb").write(b"old\r\n")
    os.chmod(machine.host(REFUSED), 0o555)
    process, log = runs.start(url, ["/HIDE", "/ELEVATED", sid, "/FOLDER", REFUSED])
    check.true("the refused elevated instance ends its run",
               e2e.wait_until(lambda: lines(log) and lines(log)[-1].endswith("Exit status 6"), 120))
    check.equal("the refused elevated instance never asks again",
                where(log, "needs an administrator's rights"), -1)
    check.true("the refusal is named (%r)" % lines(log)[-4:], where(log, "~ORBAXLU.lock: Access") >= 0)
    check.equal("a refusal is no interrupted installation", where(log, "An earlier installation was interrupted"), -1)
    return process, log


def another_account(check, machine, runs, url):
    """Elevated by another account for OTHER: everything per-user lands there."""
    hive = "HKEY_USERS\\" + OTHER
    folders = hive + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"
    reg_add(machine, folders, "Programs", OTHER_PROFILE + "\\Start Menu\\Programs")
    reg_add(machine, folders, "Desktop", OTHER_PROFILE + "\\Desktop")
    for key in (APP_KEY, SYS_UNINSTALL_KEY):
        machine.reg_delete(key)
    subprocess.run(machine.command("reg", ["delete", RUN_KEY, "/v", "Kestrova", "/f"]), env=machine.env,
                   capture_output=True, timeout=120)
    started = os.path.join(machine.host(FOLDER), "kestrova-started.txt")
    remove(started)
    try:
        status, log = runs.run(url, ["/HIDE", "/ELEVATED", OTHER, "/FOLDER", FOLDER])
        check.equal("elevated for another user: exit status (%r)" % lines(log)[-4:], status, 0)
        run = machine.reg_values(hive + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run") or {}
        check.equal("their logon value", run.get("Kestrova"), ("REG_SZ", FOLDER + "\\Kestrova"))
        check.equal("their product settings", (machine.reg_values(hive + "\\Software\\ORBAX\\Kestrova") or {})
                    .get("Language"), ("REG_SZ", "EN"))
        entry = machine.reg_values(hive + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrova") or {}
        check.equal("their uninstall entry", entry.get("DisplayName"), ("REG_SZ", "Kestrova"))
        record = (machine.reg_values(hive + "\\Software\\ORBAX\\Kestrova\\Uninstall") or {}).get("Files", ("", ""))
        shortcuts = [f for f in record[1].split(";") if f.lower().endswith(".lnk")]
        check.equal("their three shortcuts recorded", len(shortcuts), 3)
        check.true("the shortcuts are in their profile: %r" % shortcuts,
                   shortcuts and all(s.startswith(OTHER_PROFILE + "\\") for s in shortcuts))
        check.true("the shortcuts exist", shortcuts and all(os.path.exists(machine.host(s)) for s in shortcuts))
        check.equal("nothing in the elevated account's logon values",
                    (machine.reg_values(RUN_KEY) or {}).get("Kestrova"), None)
        check.equal("nothing in the elevated account's settings", machine.reg_values(APP_KEY), None)
        check.equal("no uninstall entry of the elevated account's", machine.reg_values(SYS_UNINSTALL_KEY), None)
        check.true("the application is left to the user", where(log, "left to the user's own instance") >= 0)
        check.true("the application was not started", not os.path.exists(started))

        # A user whose hive is not there: nothing is done.
        status, log = runs.run(url, ["/HIDE", "/ELEVATED", OTHER + "9", "/FOLDER", FOLDER])
        check.equal("elevated for a user without a hive: exit status", status, 1)
        check.true("the log says for whom (%r)" % lines(log)[-3:], where(log, "Cannot act for the user") >= 0)
    finally:
        machine.reg_delete(hive)
        shutil.rmtree(machine.host(OTHER_PROFILE), ignore_errors=True)


def main():
    build, target = sys.argv[1], sys.argv[2]
    if target != "windows" or not os.environ.get("DISPLAY"):
        print("skipped: the Windows build's window, on a display")
        sys.exit(77)
    machine = e2e.Machine(build, target)
    check = e2e.Check("windows_%s" % target)
    runs = Runs(machine)
    window = Window(machine)
    waiting = []
    wine_server(machine, True)
    try:
        machine.forget_installation(FOLDER, (APP_KEY, SYS_UNINSTALL_KEY))
        with e2e.PackageServer(b"", path="/elsewhere.zip") as missing:
            hidden, hidden_log = runs.start(missing.url.replace("/elsewhere.zip", "/kestrova/kestrovafull.zip"),
                                            ["/HIDE"])
            waiting.append(hidden)
            box = e2e.wait_until(lambda: find(window, "#32770", "OK"), 180, 0.5)
        shown = time.monotonic()
        check.true("a hidden run's warning shows", box is not None)
        check.true("it says the download failed: %r" % window.texts("#32770"),
                   any("Unable to download" in t for t in window.texts("#32770")))
        check.equal("the process waits on it", hidden.poll(), None)
        check.true("the log's last line is the exit status: %r" % lines(hidden_log)[-1:],
                   lines(hidden_log)[-1:] and lines(hidden_log)[-1].endswith("Exit status 2"))

        # While it shows: other updaters run, none refused with 7.
        with e2e.PackageServer(package(machine, 1)) as server:
            status, _ = runs.run(server.url, ["/HIDE"])
        check.equal("an installation while the warning shows", status, 0)
        package2 = package(machine, 2)
        sid = hand_over(check, machine, runs, package2)
        with e2e.PackageServer(package2) as server:
            refused, _ = refused_when_elevated(check, machine, runs, sid, server.url)
            waiting.append(refused)
            another_account(check, machine, runs, server.url)

        status = finish(hidden, NOTICE_SECONDS + 60)
        check.equal("the hidden run ends by itself with its status", status, 2)
        check.true("after its warning's two minutes (%.0f s)" % (time.monotonic() - shown),
                   time.monotonic() - shown > NOTICE_SECONDS - 15)
        check.equal("the refused elevated instance ends by itself", finish(refused, NOTICE_SECONDS + 60), 6)
    finally:
        for process in waiting:
            if process.poll() is None:
                process.kill()
        if os.path.isdir(machine.host(REFUSED)):
            os.chmod(machine.host(REFUSED), 0o755)
            shutil.rmtree(machine.host(REFUSED), ignore_errors=True)
        machine.forget_installation(FOLDER, (APP_KEY, SYS_UNINSTALL_KEY))
        machine.close()
        wine_server(machine, False)
    check.finish()


if __name__ == "__main__":
    main()
