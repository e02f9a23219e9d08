#!/usr/bin/env python3
"""A hidden installation from a loopback server, then an update over it.

usage: install_test.py BUILD_DIR linux|windows
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402

APP_KEY = "HKEY_CURRENT_USER\\Software\\ORBAX\\Kestrova"
RUN_KEY = e2e.RUN_KEY
SYS_UNINSTALL_KEY = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kestrova"


def package(machine, version, extra=None):
    app = open(machine.program("kestrova-demo" if version == 1 else "kestrova-demo-2"), "rb").read()
    files = {
        "Kestrova" + machine.exe: (app, 0o755),
        "ORBAXLiveUpdate.exe": (open(machine.program("ORBAXLiveUpdate"), "rb").read(), 0o755),
        "data/ad.xml": b"<ad version='%d'/>" % version,
        "data/maps/region.txt": b"region map v%d\r\n" % version,
        "readme.txt": b"Kestrova %d\r\n" % version,
        # Both lines read the same in CMD.EXE and in the Linux port's shell.
        "LiveUpdate.bat": b"echo configured> configured.txt\r\nmkdir logs\r\n",
    }
    files.update(extra or {})
    return e2e.make_package(files)


def wait_for(path, seconds=20):
    """Waits for a file another program writes. The programs of these tests write a
    file that is read under another name and rename it into place: once there, it is
    whole; the others are flags, empty or never read."""
    return bool(e2e.wait_until(lambda: os.path.exists(path), seconds))


def main():
    build, target = sys.argv[1], sys.argv[2]
    machine = e2e.Machine(build, target)
    check = e2e.Check("install_%s" % target)
    folder = "C:\\Program Files\\Drevanto\\Kestrova"
    host_folder = machine.host(folder)
    try:
        machine.forget_installation(folder, (APP_KEY, SYS_UNINSTALL_KEY))
        tmp_before = set(os.listdir(machine.temp_dir())) | e2e.LOG_FILES

        # 1. A fresh installation, hidden.
        with e2e.PackageServer(package(machine, 1)) as server:
            updater = machine.updater(server.url)
            r = machine.run(updater, ["/HIDE"])
        check.equal("exit status of the installation", r.returncode, 0)
        if r.returncode != 0:
            print(r.stdout.decode("latin-1"), r.stderr.decode("latin-1"))
        check.equal("requests", [p for p, _ in server.requests], ["/kestrova/kestrovafull.zip"])
        for name, want in (("data\\ad.xml", b"<ad version='1'/>"), ("data\\maps\\region.txt", b"region map v1\r\n"),
                           ("readme.txt", b"Kestrova 1\r\n")):
            path = machine.host(folder + "\\" + name)
            check.equal("content of " + name, open(path, "rb").read() if os.path.exists(path) else None, want)
        check.true("the batch file ran its first line",
                   os.path.exists(os.path.join(host_folder, "configured.txt")))
        check.true("the batch file ran its second line", os.path.isdir(os.path.join(host_folder, "logs")))
        check.true("the batch file is gone", not os.path.exists(os.path.join(host_folder, "LiveUpdate.bat")))
        check.true("the application was started", wait_for(os.path.join(host_folder, "kestrova-started.txt")))
        check.equal("temporary folder left as it was", set(os.listdir(machine.temp_dir())) - tmp_before, set())

        values = machine.reg_values(APP_KEY) or {}
        check.equal("UserName", values.get("UserName"), ("REG_SZ", ""))
        check.equal("PlaceCode", values.get("PlaceCode"), ("REG_SZ", ""))
        check.equal("Language", values.get("Language"), ("REG_SZ", "EN"))
        check.equal("DownloadLocation", values.get("DownloadLocation"), ("REG_SZ", "COW"))
        check.equal("UseProxy", values.get("UseProxy"), ("REG_DWORD", 0))
        check.equal("ProxyInfo", values.get("ProxyInfo"), ("REG_SZ", ""))
        record = machine.reg_values(APP_KEY + "\\Uninstall") or {}
        check.equal("UninstallKey", record.get("UninstallKey"), ("REG_SZ", "Kestrova"))
        files = record.get("Files", ("", ""))[1].split(";")
        check.equal("Files ends with ;", files[-1:], [""])
        files = files[:-1]
        check.equal("Files has no path twice", len(files), len({f.lower() for f in files}))
        for name in ("Kestrova" + machine.exe, "data\\ad.xml", "data\\maps\\region.txt", "readme.txt",
                     "LiveUpdate.bat", "ad.gif", "id.xml", "obs.xml", "reg.xml", "KestrovaApp.log"):
            check.true("Files lists " + name, folder + "\\" + name in files)
        shortcuts = [f for f in files if f.lower().endswith(".lnk")]
        check.equal("three shortcuts recorded", len(shortcuts), 3)
        for s in shortcuts:
            check.true("shortcut exists: " + s, os.path.exists(machine.host(s)))
        run = machine.reg_values(RUN_KEY) or {}
        check.equal("Run value", run.get("Kestrova"), ("REG_SZ", folder + "\\Kestrova"))
        entry = machine.reg_values(SYS_UNINSTALL_KEY) or {}
        check.equal("DisplayName", entry.get("DisplayName"), ("REG_SZ", "Kestrova"))
        check.equal("UninstallString", entry.get("UninstallString"),
                    ("REG_SZ", '"' + folder + '\\ORBAXLiveUpdate.exe" /language ENGLISH /uninstall '
                     'HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Kestrova,'
                     'HKEY_CURRENT_USER\\Software\\ORBAX\\Kestrova'))

        # 2. An update over it: changed files replaced, a read-only one too,
        # nothing recorded twice.
        readme = os.path.join(host_folder, "readme.txt")
        os.chmod(readme, 0o444)
        os.remove(os.path.join(host_folder, "kestrova-started.txt"))
        with e2e.PackageServer(package(machine, 2)) as server:
            updater = machine.updater(server.url)
            r = machine.run(updater, ["/HIDE"])
        check.equal("exit status of the update", r.returncode, 0)
        check.equal("updated readme", open(readme, "rb").read(), b"Kestrova 2\r\n")
        check.equal("updated data", open(os.path.join(host_folder, "data", "ad.xml"), "rb").read(),
                    b"<ad version='2'/>")
        check.true("the updated application was started",
                   wait_for(os.path.join(host_folder, "kestrova-started.txt")))
        started = open(os.path.join(host_folder, "kestrova-started.txt"), "rb").read() \
            if os.path.exists(os.path.join(host_folder, "kestrova-started.txt")) else b""
        check.true("version 2 runs", b"version=2.0" in started)
        files2 = (machine.reg_values(APP_KEY + "\\Uninstall") or {}).get("Files", ("", ""))[1].split(";")[:-1]
        check.equal("Files unchanged by the update", files2, files)
        check.equal("temporary folder left as it was after the update",
                    set(os.listdir(machine.temp_dir())) - tmp_before, set())
    finally:
        machine.close()
    check.finish()


if __name__ == "__main__":
    main()
