#!/usr/bin/env python3
"""An updater with the publisher's key built in: a package signed by another key,
or served without its signature, is refused before anything is unpacked; the
package signed by the publisher's key installs. Keys and signatures are made now
with the openssl command, as the vendor makes them.

usage: signed_test.py BUILD_DIR linux|windows
"""
import os
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
import install_test  # noqa: E402
import lifecycle_test  # noqa: E402

SIG_PATH = "/kestrova/kestrovafull.zip.sig"


def make_key(folder, name, *genpkey):
    """A private key file and the Base64 of its public half, as PackageKey takes it."""
    pem = os.path.join(folder, name + ".pem")
    subprocess.check_call(["openssl", "genpkey"] + list(genpkey) + ["-out", pem], stderr=subprocess.DEVNULL)
    der = subprocess.check_output(["openssl", "pkey", "-in", pem, "-pubout", "-outform", "DER"])
    return pem, subprocess.check_output(["base64", "-w0"], input=der).decode()


def sign(folder, pem, package):
    path = os.path.join(folder, "kestrovafull.zip")
    with open(path, "wb") as f:
        f.write(package)
    subprocess.check_call(["openssl", "dgst", "-sha256", "-sign", pem, "-out", path + ".sig", path])
    return open(path + ".sig", "rb").read()


def run_hidden(machine, updater):
    """A hidden run: its exit status and, on Windows, the text of the warning box
    that a failed hidden run shows before it ends (answered with OK)."""
    if machine.target != "windows":
        return machine.run(updater, ["/HIDE"]).returncode, ""
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
    return lifecycle_test.finish(p, 30), shown


def installed(folder):
    """The files in an installation folder (the folder itself is made before the download)."""
    return [os.path.join(r, f) for r, _, files in os.walk(folder) for f in files]


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
        tmp_before = set(os.listdir(machine.temp_dir()))
        keys = os.path.join(machine.root, "keys")
        os.makedirs(keys)
        publisher, key = make_key(keys, "publisher", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
        stranger, _ = make_key(keys, "stranger", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048")
        package = install_test.package(machine, 1)

        # Refused: the signature of another key, and no signature at all.
        for what, others in (("another key's signature", {SIG_PATH: sign(keys, stranger, package)}),
                             ("no signature", {})):
            with e2e.PackageServer(package, others=others) as server:
                updater = machine.updater(server.url, PackageKey=key)
                status, shown = run_hidden(machine, updater)
            check.equal("exit status with %s" % what, status, 1)
            if target == "windows":
                check.true("the warning box says the package is not signed by its publisher (%s): %r" % (what, shown),
                           "not signed by its publisher" in shown)
            check.equal("requests with %s" % what, [p for p, _ in server.requests],
                        ["/kestrova/kestrovafull.zip", SIG_PATH])
            check.equal("nothing installed with %s" % what, installed(host_folder), [])
            check.equal("temporary folder left as it was with %s" % what,
                        set(os.listdir(machine.temp_dir())) - tmp_before, set())

        # What the user reads (the console front end of the Linux port).
        if target == "linux":
            with e2e.PackageServer(package, others={SIG_PATH: sign(keys, stranger, package)}) as server:
                updater = machine.updater(server.url, PackageKey=key)
                r = machine.run(updater, [], stdin=b"\n\n\n\n")
            out = r.stdout.decode("latin-1") + r.stderr.decode("latin-1")
            check.true("the finish view says the package is not signed by its publisher",
                       "not signed by its publisher" in out)
            check.true("and why", "does not match its signature" in out)
            check.equal("exit status of the visible refused run", r.returncode, 1)
            check.equal("nothing installed by the visible run", installed(host_folder), [])
            check.equal("nor recorded", machine.reg_values(install_test.APP_KEY), None)

        # Installed: the package signed with the publisher's key.
        with e2e.PackageServer(package, others={SIG_PATH: sign(keys, publisher, package)}) as server:
            updater = machine.updater(server.url, PackageKey=key)
            status, shown = run_hidden(machine, updater)
        check.equal("exit status of the signed installation", status, 0)
        check.equal("no warning box", shown, "")
        readme = os.path.join(host_folder, "readme.txt")
        check.equal("installed readme", open(readme, "rb").read() if os.path.exists(readme) else None,
                    b"Kestrova 1\r\n")
        check.equal("temporary folder left as it was after the installation",
                    set(os.listdir(machine.temp_dir())) - tmp_before, set())
    finally:
        machine.close()
    check.finish()


if __name__ == "__main__":
    main()
