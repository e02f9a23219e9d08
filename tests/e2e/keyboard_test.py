#!/usr/bin/env python3
"""The Windows build's window driven from the keyboard, on a virtual display.

After one click into the folder edit, keys alone: the folder is typed, Tab and
Shift+Tab move between the view's controls, Enter starts the installation, the
finish view takes the focus on its first control, and Enter there ends the run
with status 0. On the uninstall view Enter is Cancel, even with the focus on
Uninstall: it asks whether to abort, and nothing is removed.

usage: keyboard_test.py BUILD_DIR windows
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
from install_test import APP_KEY, RUN_KEY  # noqa: E402
from lifecycle_test import (FOLDER, HKCU_ENTRY, MAIN_CLASS, Window, check_installed, finish,  # noqa: E402
                            served_package, start)

DEFAULT_FOLDER = "C:\\Program Files\\Drevanto\\Kestrova"


class Keyboard(Window):
    def focus(self, cls):
        """The text of the focused control, or None when nothing visible has the focus."""
        r = subprocess.run(self.machine.command(self.helper, ["focus", cls]), env=self.machine.env,
                           capture_output=True, text=True, timeout=60)
        return r.stdout.rstrip("\r\n") if r.returncode == 0 else None

    def wait_focus(self, cls, text, seconds=30):
        end = time.time() + seconds
        while time.time() < end:
            if self.focus(cls) == text:
                return True
            time.sleep(0.3)
        return False

    def keys(self, *keys):
        subprocess.run(["xdotool", "key", "--delay", "50"] + list(keys), env=self.machine.env, check=True)
        time.sleep(0.3)


def main():
    build, target = sys.argv[1], sys.argv[2]
    if target != "windows" or not os.environ.get("DISPLAY"):
        print("skipped: the window needs the Windows build and a display")
        sys.exit(77)
    machine = e2e.Machine(build, target)
    check = e2e.Check("keyboard_%s" % target)
    try:
        machine.forget_installation(FOLDER, (APP_KEY, HKCU_ENTRY))
        with e2e.PackageServer(b"") as server:
            server.package = served_package(machine, server, 1)
            p = start(machine, machine.updater(server.url), [])
            window = Keyboard(machine)
            check.true("the folder view came", window.wait_view("Install", "OK"))
            check.true("the folder edit has the focus", window.wait_focus(MAIN_CLASS, DEFAULT_FOLDER))
            edit = window.find(MAIN_CLASS, DEFAULT_FOLDER)
            if edit:
                window.click(edit)
                # Keys sent before the window has the keyboard focus go nowhere: send again.
                for _ in range(5):
                    window.keys("ctrl+a", "BackSpace")
                    subprocess.run(["xdotool", "type", "--delay", "30", FOLDER], env=machine.env, check=True)
                    if window.focus(MAIN_CLASS) == FOLDER:
                        break
                check.equal("the folder typed", window.focus(MAIN_CLASS), FOLDER)
                window.keys("Tab")
                check.equal("Tab moves to the next control", window.focus(MAIN_CLASS), "Change")
                window.keys("shift+Tab")
                check.equal("Shift+Tab moves back", window.focus(MAIN_CLASS), FOLDER)
                window.keys("Return")
                check.true("the finish view came", window.wait_view("Create desktop shortcut", "Install", 120))
                check.true("the finish view's first control has the focus",
                           window.wait_focus(MAIN_CLASS, "Create desktop shortcut"))
                window.keys("Return")
            check.equal("exit status of the run from the keyboard", finish(p), 0)
        check_installed(machine, check, "installation from the keyboard", 1)
        check.equal("Run value names the folder typed", (machine.reg_values(RUN_KEY) or {}).get("Kestrova"),
                    ("REG_SZ", FOLDER + "\\Kestrova"))

        p = start(machine, machine.updater("http://127.0.0.1:9/unused.zip"), ["/uninstall", RUN_KEY + "\\Kestrova"])
        window = Keyboard(machine)
        check.true("the uninstall view came", window.wait_view("Uninstall", "Install"))
        check.true("Uninstall, its first control, has the focus", window.wait_focus(MAIN_CLASS, "Uninstall"))
        window.keys("Return")
        question = window.wait("#32770", "&Yes", 30)
        check.true("Enter on the uninstall view asks whether to abort", question is not None)
        if question:
            window.keys("Return")
        check.equal("exit status after Enter on the uninstall view", finish(p), 1)
        check.equal("nothing was uninstalled", (machine.reg_values(RUN_KEY) or {}).get("Kestrova"),
                    ("REG_SZ", FOLDER + "\\Kestrova"))
    finally:
        machine.close()
    check.finish()


if __name__ == "__main__":
    main()
