#!/usr/bin/env python3
"""The life of an installation as a user meets it.

1. A fresh installation through the front end into a folder the user types: the
   real window under a virtual display, driven with the mouse and keyboard
   (xdotool) for the Windows build; the console front end answered on standard
   input for the Linux port.
2. An update through the window while a program holds one of the installed
   files: the retry dialog lists it; Cancel leaves version 1 whole; then, the
   program ended, Retry places version 2.
3. The live update: the installed application starts the updater with
   "/HIDE /KILL <its process>"; the updater stops it, finds the folder through the
   registry, replaces the files and starts the new application.
4. Windows only: the older Windows family (Wine told to be Windows 98 for the
   updater): batch lines through COMMAND.COM, the uninstall entry under
   HKEY_LOCAL_MACHINE, deletions at restart in the short path form.

usage: lifecycle_test.py BUILD_DIR linux|windows
"""
import os
import queue
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
from install_test import APP_KEY, RUN_KEY, package, wait_for  # noqa: E402
from uninstall_test import RUNONCE_KEY, split_windows  # noqa: E402

FOLDER = "C:\\Apps\\Kestrova Weather"
HKCU_ENTRY = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrova"
HKLM_ENTRY = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrova"
APP_DEFAULTS = "HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\ORBAXLiveUpdate.exe"
MAIN_CLASS = "ORBAXLiveUpdateMain"
RETRY_CLASS = "ORBAXLiveUpdateRetry"


def read(path):
    return open(path, "rb").read() if os.path.exists(path) else None


def served_package(machine, server, version, extra=None):
    """The package of a version whose updater is pointed at this server, as the vendor's is."""
    updater = machine.updater(server.url)
    files = {"ORBAXLiveUpdate.exe": (open(updater, "rb").read(), 0o755)}
    files.update(extra or {})
    return package(machine, version, files)


class Window:
    """The Windows build's window, seen through lu-win32 and clicked with xdotool."""

    def __init__(self, machine):
        self.machine = machine
        self.helper = os.path.join(machine.build, "tests", "lu-win32.exe")

    def find(self, cls, text):
        r = subprocess.run(self.machine.command(self.helper, ["find", cls, text]), env=self.machine.env,
                           capture_output=True, text=True, timeout=60)
        if r.returncode != 0:
            return None
        x, y = r.stdout.split()
        return int(x), int(y)

    def texts(self, cls):
        return subprocess.run(self.machine.command(self.helper, ["texts", cls]), env=self.machine.env,
                              capture_output=True, text=True, timeout=60).stdout.splitlines()

    def wait(self, cls, text, seconds=90):
        return e2e.wait_until(lambda: self.find(cls, text), seconds, 0.5)

    def wait_view(self, present, absent, seconds=90):
        """Waits until a text shows and another does not: while the window is being
        built every view is briefly visible."""
        return bool(e2e.wait_until(lambda: present in (t := self.texts(MAIN_CLASS)) and absent not in t, seconds, 0.5))

    def click(self, at):
        subprocess.run(["xdotool", "mousemove", str(at[0]), str(at[1]), "click", "1"], env=self.machine.env,
                       check=True)

    def type_into(self, at, value):
        self.click(at)
        subprocess.run(["xdotool", "key", "ctrl+a", "BackSpace"], env=self.machine.env, check=True)
        subprocess.run(["xdotool", "type", "--delay", "30", value], env=self.machine.env, check=True)


class Console:
    """The Linux port's console front end: its output read as it comes, answers written."""

    def __init__(self, process):
        self.process = process
        self.chunks = queue.Queue()
        self.seen = ""
        self.mark = 0
        for stream in (process.stdout, process.stderr):
            threading.Thread(target=self._pump, args=(stream,), daemon=True).start()

    def _pump(self, stream):
        # Prompts end without a new line: read what comes, not lines.
        for chunk in iter(lambda: os.read(stream.fileno(), 4096), b""):
            self.chunks.put(chunk.decode("utf-8", "replace"))

    def wait_for(self, *texts, seconds=90):
        """Waits for every text in the output that came after the previous texts waited for
        (the two streams arrive in no fixed order)."""
        end = time.time() + seconds
        while time.time() < end:
            found = [self.seen.find(t, self.mark) for t in texts]
            if min(found) >= 0:
                self.mark = max(at + len(t) for at, t in zip(found, texts))
                return True
            try:
                self.seen += self.chunks.get(timeout=0.2)
            except queue.Empty:
                pass
        return False

    def answer(self, line):
        self.process.stdin.write(line.encode("latin-1") + b"\n")
        self.process.stdin.flush()


def start(machine, program, args, cwd=None):
    return subprocess.Popen(machine.command(program, args), env=machine.env, cwd=cwd, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def finish(process, seconds=120):
    try:
        return process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        return None


def check_installed(machine, check, what, version):
    """Files of package version 1, 2 or 3 (3 carries the application of 2)."""
    host = machine.host(FOLDER)
    # The application is started last: once it runs, the files are in place.
    check.true(what + ": the application was started", wait_for(os.path.join(host, "kestrova-started.txt"), 60))
    check.equal(what + ": readme", read(os.path.join(host, "readme.txt")), b"Kestrova %d\r\n" % version)
    check.equal(what + ": data", read(os.path.join(host, "data", "maps", "region.txt")),
                b"region map v%d\r\n" % version)
    check.true(what + ": the batch file ran", os.path.isdir(os.path.join(host, "logs")))
    started = read(os.path.join(host, "kestrova-started.txt")) or b""
    check.true(what + ": the new application runs", b"version=%d.0" % min(version, 2) in started)


def choose_folder(window, check):
    """Types the folder over the default one and presses Install."""
    window.wait_view("Install", "OK")
    edit = window.wait(MAIN_CLASS, "C:\\Program Files\\Drevanto\\Kestrova")
    check.true("the folder view shows the default folder", edit is not None)
    if not edit:
        return False
    # Keys typed before the window has the keyboard focus go nowhere: type again
    # until the edit shows the folder.
    for _ in range(5):
        window.type_into(edit, FOLDER)
        if window.wait(MAIN_CLASS, FOLDER, 2):
            break
    check.true("the folder typed is in the edit", window.find(MAIN_CLASS, FOLDER) is not None)
    window.click(window.find(MAIN_CLASS, "Install"))
    return True


def press_ok(window, check, what):
    """Waits for the finish view of a successful run, which offers the desktop shortcut, and presses OK."""
    ok = window.wait(MAIN_CLASS, "OK")
    check.true(what, ok is not None)
    check.true("the finish view offers the desktop shortcut", "Create desktop shortcut" in window.texts(MAIN_CLASS))
    if ok:
        window.click(ok)


def install_through_front_end(machine, check, server):
    """Step 1: the user types the folder, presses Install, then OK."""
    updater = machine.updater(server.url)
    p = start(machine, updater, [])
    if machine.target == "windows":
        window = Window(machine)
        if choose_folder(window, check):
            press_ok(window, check, "the finish view came")
    else:
        console = Console(p)
        check.true("the folder question", console.wait_for("Install"))
        console.answer(FOLDER)
        check.true("the desktop shortcut question", console.wait_for("Create desktop shortcut"))
        console.answer("y")
    check.equal("exit status of the installation through the front end", finish(p), 0)
    check_installed(machine, check, "installation", 1)

    values = machine.reg_values(RUN_KEY) or {}
    check.equal("Run value names the folder typed", values.get("Kestrova"),
                ("REG_SZ", FOLDER + "\\Kestrova"))
    files = (machine.reg_values(APP_KEY + "\\Uninstall") or {}).get("Files", ("", ""))[1].split(";")[:-1]
    shortcuts = [f for f in files if f.lower().endswith(".lnk")]
    check.equal("three shortcuts", len(shortcuts), 3)
    check.true("a desktop shortcut", any("\\desktop\\" in s.lower() for s in shortcuts))
    for s in shortcuts:
        check.true("shortcut exists: " + s, os.path.exists(machine.host(s)))
    entry = machine.reg_values(HKCU_ENTRY) or {}
    check.true("the uninstall command names the folder",
               entry.get("UninstallString", ("", ""))[1].startswith('"' + FOLDER + '\\ORBAXLiveUpdate.exe"'))
    return files


def installed_tree(host):
    """Every file below the folder with its bytes, and every folder, but for the
    notes the application writes when it starts."""
    return {name: data for name, data in e2e.tree(host, folders=True).items()
            if not os.path.basename(name).startswith("kestrova-")}


def update_with_held_file(machine, check, server, retry):
    """Step 2: a program holds readme.txt and the retry dialog names it. Cancel leaves
    version 1 as it was, nothing of version 2 added; Retry places version 2."""
    host = machine.host(FOLDER)
    held = FOLDER + "\\readme.txt"
    ready = os.path.join(machine.root, "held.ready")
    release = os.path.join(machine.root, "held.release")
    for flag in (ready, release):
        if os.path.exists(flag):
            os.remove(flag)
    helper = os.path.join(machine.build, "tests", "lu-child" + machine.exe)
    windows_path = lambda p: "Z:" + p.replace("/", "\\")  # noqa: E731
    holder = subprocess.Popen(machine.command(helper, ["hold", held, windows_path(ready), windows_path(release)]),
                              env=machine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    check.true("the file is held", wait_for(ready, 60))
    if os.path.exists(os.path.join(host, "kestrova-started.txt")):
        os.remove(os.path.join(host, "kestrova-started.txt"))
    what = "update with a " + ("retry" if retry else "cancel")
    before = installed_tree(host)

    def release_holder():
        open(release, "w").close()
        holder.wait(60)

    p = start(machine, machine.updater(server.url), [])
    if machine.target == "windows":
        window = Window(machine)
        choose_folder(window, check)
        button = window.wait(RETRY_CLASS, "Retry" if retry else "Cancel", 120)
        check.true("the retry dialog came", button is not None)
        texts = window.texts(RETRY_CLASS)
        check.true("the retry dialog names the held file: %r" % texts,
                   "  readme.txt (%s)" % FOLDER in texts or "  readme.txt (%s\\)" % FOLDER in texts)
        if retry:
            release_holder()
        if button:
            window.click(button)
        if retry:
            press_ok(window, check, "the finish view after Retry")
        else:
            ok = window.wait(MAIN_CLASS, "OK")
            check.true("the finish view after Cancel", ok is not None)
            check.true("the finish view says the installation failed", "Installation Fail" in window.texts(MAIN_CLASS))
            if ok:
                window.click(ok)
    else:
        console = Console(p)
        check.true("the folder question of the update", console.wait_for("Install"))
        console.answer(FOLDER)
        check.true("the retry question names the held file", console.wait_for("readme.txt", "[r/c]", seconds=120))
        if retry:
            release_holder()
            console.answer("r")
            check.true("the desktop shortcut question", console.wait_for("Create desktop shortcut"))
            console.answer("y")
        else:
            console.answer("c")
    check.equal("exit status of the " + what, finish(p), 0 if retry else 5)  # files in use, cancelled
    if retry:
        check_installed(machine, check, what, 2)
    else:
        release_holder()
        check.equal(what + ": the folder byte for byte as before", installed_tree(host), before)
        check.equal(what + ": readme of version 1", read(os.path.join(host, "readme.txt")), b"Kestrova 1\r\n")


def live_update(machine, check, server):
    """Step 3: the application updates itself."""
    host = machine.host(FOLDER)
    if os.path.exists(os.path.join(host, "kestrova-started.txt")):
        os.remove(os.path.join(host, "kestrova-started.txt"))
    requests = len(server.requests)
    app = start(machine, os.path.join(host, "Kestrova" + machine.exe), ["/UPDATE"], cwd=host)
    note = os.path.join(host, "kestrova-updating.txt")
    check.true("the application started the updater", wait_for(note, 60))
    status = finish(app, 120)
    # 1: it could not start the updater; 3: nobody stopped it.
    check.true("the updater stopped the application (status %r)" % status, status not in (None, 1, 3))
    check_installed(machine, check, "live update", 3)
    check.equal("one download for the live update", len(server.requests), requests + 1)
    os.remove(note)
    # The hidden updater ends after starting the application.
    check.true("the live updater ended",
               e2e.wait_until(lambda: not e2e.processes_running("ORBAXLiveUpdate", "/KILL"), 60) is not None)


def older_family(machine, check):
    """Step 4 (Windows build under Wine told to be Windows 98)."""
    windows_dir = machine.host(machine.run_capture(["cmd", "/c", "echo %WINDIR%"]).strip())
    command_com = os.path.join(windows_dir, "command.com")
    log = os.path.join(machine.root, "command.log")
    env = machine.env
    machine.env = dict(env, LU_COMMAND_LOG="Z:" + log.replace("/", "\\"))
    reg = lambda *args: subprocess.run(machine.command("reg", list(args)), env=machine.env,  # noqa: E731
                                       capture_output=True, timeout=120)
    try:
        reg("add", APP_DEFAULTS, "/v", "Version", "/d", "win98", "/f")
        with open(os.path.join(machine.build, "tests", "command-com.exe"), "rb") as src, \
                open(command_com, "wb") as dst:
            dst.write(src.read())
        machine.forget_installation(FOLDER, (APP_KEY, HKCU_ENTRY, HKLM_ENTRY))
        reg("delete", RUN_KEY, "/v", "Kestrova", "/f")
        folder = "C:\\Program Files\\Drevanto\\Kestrova"
        machine.forget_installation(folder, ())
        with e2e.PackageServer(b"") as server:
            server.package = served_package(machine, server, 1)
            r = machine.run(machine.updater(server.url), ["/HIDE"])
        check.equal("older family: installation exit status", r.returncode, 0)
        lines = (read(log) or b"").decode("latin-1").splitlines()
        check.equal("older family: batch lines through COMMAND.COM", lines,
                    ["COMMAND.COM /C echo configured> configured.txt", "COMMAND.COM /C mkdir logs"])
        check.true("older family: the batch file's lines took effect",
                   os.path.exists(machine.host(folder + "\\configured.txt")))
        check.equal("older family: no uninstall entry of the current user", machine.reg_values(HKCU_ENTRY), None)
        entry = machine.reg_values(HKLM_ENTRY) or {}
        check.equal("older family: DisplayName under HKEY_LOCAL_MACHINE", entry.get("DisplayName"),
                    ("REG_SZ", "Kestrova"))
        command = entry.get("UninstallString", ("", ""))[1]
        check.true("older family: uninstall command recorded", command.startswith('"'))
        if command:
            args = split_windows(command)
            r = machine.run(machine.host(args[0]), ["/HIDE"] + args[1:])
            check.equal("older family: uninstallation exit status", r.returncode, 0)
            check.equal("older family: entry removed", machine.reg_values(HKLM_ENTRY), None)
            updater = folder + "\\ORBAXLiveUpdate.exe"
            short = machine.run_capture([os.path.join(machine.build, "tests", "lu-win32.exe"), "short",
                                         updater]).strip()
            check.true("a short path differs from the long one", short and short != updater)
            runonce = machine.reg_values(RUNONCE_KEY) or {}
            scheduled = [v for n, v in runonce.items() if n.startswith("ORBAXLU_DEL_")]
            check.equal("older family: deletion at restart in the short form", scheduled,
                        [("REG_SZ", 'COMMAND.COM /C DEL "' + short + '"')])
            for n in runonce:
                if n.startswith("ORBAXLU_DEL_"):
                    reg("delete", RUNONCE_KEY, "/v", n, "/f")
    finally:
        reg("delete", APP_DEFAULTS, "/f")
        if os.path.exists(command_com):
            os.remove(command_com)
        machine.env = env


def main():
    build, target = sys.argv[1], sys.argv[2]
    machine = e2e.Machine(build, target)
    check = e2e.Check("lifecycle_%s" % target)
    if target == "windows" and not os.environ.get("DISPLAY"):
        print("skipped: the window needs a display")
        sys.exit(77)
    try:
        machine.forget_installation(FOLDER, (APP_KEY, HKCU_ENTRY))
        with e2e.PackageServer(b"") as server:
            server.package = served_package(machine, server, 1)
            install_through_front_end(machine, check, server)
            # Version 2 changes every file and adds one.
            server.package = served_package(machine, server, 2, {"added/new.txt": b"added in 2\r\n"})
            update_with_held_file(machine, check, server, retry=False)
            update_with_held_file(machine, check, server, retry=True)
            server.package = served_package(machine, server, 3)
            live_update(machine, check, server)
        if target == "windows":
            older_family(machine, check)
    finally:
        machine.close()
    check.finish()


if __name__ == "__main__":
    main()
