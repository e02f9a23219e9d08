#!/usr/bin/env python3
"""Installation, then the uninstallation that registration recorded, hidden; then a
new installation that cancels the deletions left for the next restart.

usage: uninstall_test.py BUILD_DIR linux|windows
"""
import os
import shlex
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
from install_test import APP_KEY, RUN_KEY, SYS_UNINSTALL_KEY, package  # noqa: E402

RUNONCE_KEY = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"


def split_windows(command):
    """A Windows command line as the program receives it (quotes group, are removed)."""
    return shlex.split(command.replace("\\", "\\\\"))


def main():
    build, target = sys.argv[1], sys.argv[2]
    machine = e2e.Machine(build, target)
    check = e2e.Check("uninstall_%s" % target)
    folder = "C:\\Program Files\\Drevanto\\Kestrova"
    host_folder = machine.host(folder)
    try:
        machine.forget_installation(folder, (APP_KEY, SYS_UNINSTALL_KEY))
        with e2e.PackageServer(package(machine, 1)) as server:
            r = machine.run(machine.updater(server.url), ["/HIDE"])
        check.equal("installation exit status", r.returncode, 0)
        record = machine.reg_values(APP_KEY + "\\Uninstall") or {}
        files = record.get("Files", ("", ""))[1].split(";")[:-1]
        check.true("files recorded", len(files) > 5)
        entry = machine.reg_values(SYS_UNINSTALL_KEY) or {}
        command = entry.get("UninstallString", ("", ""))[1]
        check.true("uninstall command recorded", command.startswith('"'))
        if command:
            args = split_windows(command)
            program = machine.host(args[0])
            check.true("the installed updater exists", os.path.exists(program))
            r = machine.run(program, ["/HIDE"] + args[1:])
            check.equal("uninstallation exit status", r.returncode, 0)
            if r.returncode != 0:
                print(r.stdout.decode("latin-1"), r.stderr.decode("latin-1"))
            # A running program cannot delete itself on Windows: it is scheduled.
            left = [f for f in files if os.path.exists(machine.host(f))]
            expected_left = [folder + "\\ORBAXLiveUpdate.exe"] if target == "windows" else []
            check.equal("files left", left, expected_left)
            check.equal("product key", machine.reg_values(APP_KEY), None)
            check.equal("system uninstall entry", machine.reg_values(SYS_UNINSTALL_KEY), None)
            check.equal("Run value", (machine.reg_values(RUN_KEY) or {}).get("Kestrova"), None)
            runonce = machine.reg_values(RUNONCE_KEY) or {}
            scheduled = {n: v for n, v in runonce.items() if n.startswith("ORBAXLU_DEL_")}
            if target == "windows":
                check.equal("scheduled deletion", list(scheduled.values()),
                            [("REG_SZ", 'CMD.EXE /C DEL "' + folder + '\\ORBAXLiveUpdate.exe"')])
                # A new installation cancels it.
                with e2e.PackageServer(package(machine, 1)) as server:
                    r = machine.run(machine.updater(server.url), ["/HIDE"])
                check.equal("reinstallation exit status", r.returncode, 0)
                runonce = machine.reg_values(RUNONCE_KEY) or {}
                check.equal("scheduled deletions after reinstalling",
                            [n for n in runonce if n.startswith("ORBAXLU_DEL_")], [])
            else:
                check.equal("scheduled deletions", scheduled, {})
    finally:
        machine.close()
    check.finish()


if __name__ == "__main__":
    main()
