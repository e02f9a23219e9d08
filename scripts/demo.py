#!/usr/bin/env python3
"""The demo: a small Kestrova package, released with a statement signed by a key
made for the demo, served with its statement from a loopback HTTP server and
installed by the Linux port in a fresh emulated machine, with the console front
end; the updater holds the public half of the key and installs only what a
statement signed with it describes. Afterwards it shows
what the installation left: the installed tree, the registry values and the
shortcuts.

usage: demo.py BUILD_DIR [--hide]
"""
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "e2e"))
import e2e  # noqa: E402


def main():
    build = os.path.abspath(sys.argv[1])
    hide = "--hide" in sys.argv[2:]
    demo = os.path.join(build, "demo")
    shutil.rmtree(demo, ignore_errors=True)
    os.makedirs(os.path.join(demo, "prefix", "drive_c"))
    os.makedirs(os.path.join(demo, "tmp"))
    env = dict(os.environ, ORBAX_PREFIX=os.path.join(demo, "prefix"), TMPDIR=os.path.join(demo, "tmp"))
    for name in ("http_proxy", "HTTP_PROXY"):
        env.pop(name, None)

    app = open(os.path.join(build, "kestrova-demo"), "rb").read()
    updater_bytes = open(os.path.join(build, "ORBAXLiveUpdate"), "rb").read()
    package = e2e.make_package({
        "Kestrova": (app, 0o755),
        # The package carries the updater too: the registered uninstall command runs it.
        "ORBAXLiveUpdate.exe": (updater_bytes, 0o755),
        "data/ad.xml": b"<ad/>\r\n",
        "data/maps/region.txt": b"Demo region\r\n",
        "readme.txt": b"Kestrova demo package\r\n",
        "LiveUpdate.bat": b"echo configured> configured.txt\r\nmkdir logs\r\n",
    })
    # The publisher's side: a key, the package and its release statement, checked
    # as the updater will check them.
    key_file = os.path.join(demo, "publisher.pem")
    package_file = os.path.join(demo, "kestrovafull.zip")
    with open(package_file, "wb") as f:
        f.write(package)
    subprocess.check_call(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
                           "-out", key_file], stderr=subprocess.DEVNULL)
    der = subprocess.check_output(["openssl", "pkey", "-in", key_file, "-pubout", "-outform", "DER"])
    public_key = subprocess.check_output(["base64", "-w0"], input=der).decode()
    statement = subprocess.check_output([os.path.join(build, "lu-release"), key_file, package_file, "Kestrova", "1.0"])
    with open(package_file + ".sig", "wb") as f:
        f.write(statement)
    print("== released the demo package with a statement signed by a new P-256 key (%s):" % key_file)
    print("   " + statement.decode().rstrip("\n").replace("\n", "\n   "))
    subprocess.check_call([os.path.join(build, "lu-verify"), package_file, package_file + ".sig", public_key],
                          stdout=subprocess.DEVNULL)

    with e2e.PackageServer(package, others={"/kestrova/kestrovafull.zip.sig": statement}) as server:
        updater = os.path.join(demo, "ORBAXLiveUpdate")
        shutil.copy(os.path.join(build, "ORBAXLiveUpdate"), updater)
        for name, value in (("DefaultDownloadURL", server.url), ("PackageKey", public_key)):
            subprocess.check_call([os.path.join(build, "lu-defaults"), updater, name, value],
                                  stdout=subprocess.DEVNULL)
        print("== serving the demo package and its statement at %s[.sig]" % server.url)
        print("== the updater holds the public key (lu-defaults ... PackageKey) and installs only what it signed")
        print("== running the updater%s in %s\n" % (" (hidden)" if hide else "", env["ORBAX_PREFIX"]))
        status = subprocess.call([updater] + (["/HIDE"] if hide else []), env=env)
        fetched = [path for path, _ in server.requests]
    print("\n== exit status %d" % status)
    if status == 0 and fetched[:1] == ["/kestrova/kestrovafull.zip.sig"]:
        print("== the updater fetched the statement and checked its signature, then fetched the package, checked "
              "it against the statement as it arrived, and installed it")

    drive = os.path.join(demo, "prefix", "drive_c")
    folder = os.path.join(drive, "Program Files", "Drevanto", "Kestrova")
    print("\n== installed tree (C:\\Program Files\\Drevanto\\Kestrova)")
    for root, dirs, files in os.walk(folder):
        dirs.sort()
        for f in sorted(files):
            path = os.path.join(root, f)
            print("   %-50s %8d bytes" % (os.path.relpath(path, folder), os.path.getsize(path)))
    print("\n== registry (%s)" % os.path.join(env["ORBAX_PREFIX"], "user.reg"))
    keys = e2e.parse_regedit4(os.path.join(env["ORBAX_PREFIX"], "user.reg"))
    for key in sorted(keys):
        if "orbax" in key or key.endswith("\\run") or "\\uninstall\\" in key:
            print("   [%s]" % key)
            for name, (kind, data) in sorted(keys[key].items()):
                print("     %s = %s %r" % (name or "@", kind, data))
    print("\n== shortcuts")
    for root, _, files in os.walk(drive):
        for f in sorted(files):
            if f.lower().endswith(".lnk"):
                path = os.path.join(root, f)
                print("   " + os.path.relpath(path, drive))
                if shutil.which("lnkinfo"):
                    out = subprocess.run(["lnkinfo", path], capture_output=True, text=True, errors="replace").stdout
                    for line in out.splitlines():
                        if any(k in line for k in ("Local path", "Working directory", "Command line arguments",
                                                   "Relative path")):
                            print("      " + line.strip())
    started = os.path.join(folder, "kestrova-started.txt")
    for _ in range(50):  # the application starts on its own, without the updater waiting
        if os.path.exists(started):
            break
        time.sleep(0.1)
    print("\n== application started: %s" % ("yes" if os.path.exists(started) else "no"))
    return status


if __name__ == "__main__":
    sys.exit(main())
