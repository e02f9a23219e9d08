#!/usr/bin/env python3
"""An updater with the publisher's key built in: a package whose release
statement is signed by another key, is for another product, describes another
file, is a bare signature, or is missing, is refused before anything is
unpacked; the package whose statement the publisher signed installs, also with
a key list where the publisher's key comes second. Keys and statements are made
now with the openssl command alone, as a vendor without lu-release makes them.

usage: signed_test.py BUILD_DIR linux|windows
"""
import base64
import hashlib
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


def statement(folder, pem, package, product="Kestrova", version="1.0"):
    """The release statement of package signed with pem: printf, openssl dgst, base64."""
    body = ("product: %s\nversion: %s\nsize: %d\nsha256: %s\n"
            % (product, version, len(package), hashlib.sha256(package).hexdigest())).encode()
    path = os.path.join(folder, "statement")
    with open(path, "wb") as f:
        f.write(body)
    signature = subprocess.check_output(["openssl", "dgst", "-sha256", "-sign", pem, path])
    return body + b"signature: " + base64.b64encode(signature) + b"\n"


def bare_signature(folder, pem, package):
    """A detached signature of the package itself, which is no statement."""
    path = os.path.join(folder, "kestrovafull.zip")
    with open(path, "wb") as f:
        f.write(package)
    return subprocess.check_output(["openssl", "dgst", "-sha256", "-sign", pem, path])


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
        stranger, stranger_key = make_key(keys, "stranger", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048")
        package = install_test.package(machine, 1)

        # Refused: another key's statement, none, a bare signature, another
        # product's, one that describes another file.
        refused = (("another key's statement", statement(keys, stranger, package)),
                   ("no statement", None),
                   ("a bare signature", bare_signature(keys, publisher, package)),
                   ("another product's statement", statement(keys, publisher, package, product="Lumeva")),
                   ("another file's statement", statement(keys, publisher, package + b"\0")))
        for what, text in refused:
            with e2e.PackageServer(package, others={SIG_PATH: text} if text else {}) as server:
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
            with e2e.PackageServer(package, others={SIG_PATH: statement(keys, stranger, package)}) as server:
                updater = machine.updater(server.url, PackageKey=key)
                r = machine.run(updater, [], stdin=b"\n\n\n\n")
            out = r.stdout.decode("latin-1") + r.stderr.decode("latin-1")
            check.true("the finish view says the package is not signed by its publisher",
                       "not signed by its publisher" in out)
            check.true("and why", "is not signed by the package key" in out)
            check.equal("exit status of the visible refused run", r.returncode, 1)
            check.equal("nothing installed by the visible run", installed(host_folder), [])
            check.equal("nor recorded", machine.reg_values(install_test.APP_KEY), None)

        # Installed: the package the publisher's statement describes, the
        # publisher's key second in the list.
        with e2e.PackageServer(package, others={SIG_PATH: statement(keys, publisher, package)}) as server:
            updater = machine.updater(server.url, PackageKey=stranger_key + "," + key)
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
