#!/usr/bin/env python3
"""The release step on a built program, with a throwaway certificate made here:
scripts/release signs it from a PFX (timestamped by an RFC 3161 server on the
loopback, openssl's) and from PEM files, and the signature verifies and covers the
built file; a changed byte, a wrong password fail. The version resource and the
manifest carry the project's version, asInvoker and the systems from Vista to 11.

usage: release_test.py PROGRAM VERSION
"""
import hashlib
import http.server
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402

RELEASE = os.path.join(e2e.SOURCE, "scripts", "release")
SUPPORTED_OS = ["e2011457-1546-43c5-a5fe-008deee3d3f0", "35138b9a-5d96-4fbd-8e2d-a2440225f93a",
                "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"]


def authenticode_sha256(data):
    """The digest Authenticode signs: the file padded to 8 bytes as the signer pads
    it, without the checksum and the certificate table's directory entry."""
    header = struct.unpack_from("<I", data, 0x3C)[0] + 24
    checksum = header + 64
    pe32 = struct.unpack_from("<H", data, header)[0] == 0x10B
    certificates = header + (96 if pe32 else 112) + 4 * 8
    data += b"\0" * (-len(data) % 8)
    return hashlib.sha256(data[:checksum] + data[checksum + 4:certificates] + data[certificates + 8:]).hexdigest()


class TimestampServer:
    """An RFC 3161 server on 127.0.0.1: openssl ts answers each query."""

    def __init__(self, folder):
        config = os.path.join(folder, "tsa.cnf")
        with open(os.path.join(folder, "serial"), "w") as f:
            f.write("01\n")
        with open(config, "w") as f:
            f.write("[tsa]\ndefault_tsa = one\n[one]\nserial = %s\ncrypto_device = builtin\n"
                    "signer_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n"
                    "accuracy = secs:1\nordering = yes\ntsa_name = yes\ness_cert_id_alg = sha256\n"
                    % os.path.join(folder, "serial"))
        self.answered = 0
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                query = os.path.join(folder, "query.tsq")
                with open(query, "wb") as f:
                    f.write(self.rfile.read(int(self.headers["Content-Length"])))
                reply = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query,
                                        "-signer", os.path.join(folder, "tsa.pem"),
                                        "-inkey", os.path.join(folder, "tsa.key"), "-out", "/dev/stdout"],
                                       capture_output=True).stdout
                outer.answered += 1
                e2e.send(self, 200, reply, {"Content-Type": "application/timestamp-reply"})

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def certificate(folder, name, usage):
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=ORBAX throwaway " + name, "-addext", "extendedKeyUsage=" + usage,
                    "-keyout", os.path.join(folder, name + ".key"), "-out", os.path.join(folder, name + ".pem")],
                   check=True, capture_output=True)


def verify(signed, ca):
    r = subprocess.run(["osslsigncode", "verify", "-CAfile", ca, "-TSA-CAfile", ca, "-in", signed],
                       capture_output=True, text=True)
    digests = [line.split(":", 1)[1].strip().lower() for line in r.stdout.splitlines()
               if line.startswith(("Current message digest", "Calculated message digest"))]
    return r.returncode, r.stdout, digests


def resources(check, program, version):
    data = open(program, "rb").read()
    fixed = data.find(struct.pack("<I", 0xFEEF04BD))
    numbers = struct.unpack_from("<IIII", data, fixed + 8) if fixed >= 0 else (0, 0, 0, 0)
    parts = [int(p) for p in (version.split(".") + ["0", "0"])[:4]]
    want = ((parts[0] << 16) | parts[1], (parts[2] << 16) | parts[3])
    check.equal("the version resource's file and product numbers", numbers, want * 2)
    for name in ("FileVersion", "ProductVersion"):
        text = re.compile(re.escape((name + "\0").encode("utf-16-le")) + b"(\0\0)?" +
                          re.escape((version + "\0").encode("utf-16-le")))
        check.true("the version resource's %s is %s" % (name, version), text.search(data))
    start = data.find(b"<assembly")
    manifest = data[start:data.find(b"</assembly>", start)].decode("utf-8", "replace")
    check.true("the manifest names the version", 'name="ORBAX.LiveUpdate" version="%s"' % version in manifest)
    check.true("the manifest runs the program as the user", 'level="asInvoker"' in manifest)
    check.equal("the manifest's systems, Vista to 11",
                [i for i in SUPPORTED_OS if '<supportedOS Id="{%s}"/>' % i in manifest], SUPPORTED_OS)
    check.true("the manifest keeps the common controls and the DPI awareness",
               "Microsoft.Windows.Common-Controls" in manifest and "PerMonitorV2" in manifest)


def main():
    program, version = sys.argv[1], sys.argv[2]
    missing = [tool for tool in ("openssl", "osslsigncode") if not shutil.which(tool)]
    if missing:
        print("skipped: %s not installed" % " and ".join(missing))
        sys.exit(77)
    check = e2e.Check("release")
    folder = tempfile.mkdtemp(prefix="lu-release-")
    tsa = None
    try:
        resources(check, program, version)
        certificate(folder, "vendor", "codeSigning")
        certificate(folder, "tsa", "critical,timeStamping")
        ca = os.path.join(folder, "roots.pem")
        with open(ca, "w") as f:
            f.write(open(os.path.join(folder, "vendor.pem")).read() + open(os.path.join(folder, "tsa.pem")).read())
        password = os.path.join(folder, "password")
        with open(password, "w") as f:
            f.write("throwaway secret\n")
        pfx = os.path.join(folder, "vendor.pfx")
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", os.path.join(folder, "vendor.key"),
                        "-in", os.path.join(folder, "vendor.pem"), "-out", pfx, "-passout", "file:" + password],
                       check=True)
        locked_key = os.path.join(folder, "vendor-locked.key")
        subprocess.run(["openssl", "pkey", "-in", os.path.join(folder, "vendor.key"), "-aes256", "-out", locked_key,
                        "-passout", "file:" + password], check=True)
        built = authenticode_sha256(open(program, "rb").read())
        tsa = TimestampServer(folder)

        ways = [
            ("pfx", "a PFX, timestamped", ["--pfx", pfx, "--timestamp", tsa.url], True),
            ("pem", "PEM files", ["--cert", os.path.join(folder, "vendor.pem"), "--key", locked_key], False),
        ]
        for name, what, args, stamped in ways:
            out = os.path.join(folder, name)
            r = subprocess.run([RELEASE, "--exe", program, "--pass-file", password, "--ca", ca, "--out", out] + args,
                               capture_output=True, text=True, timeout=120)
            check.equal("%s: the release step (%s)" % (what, r.stderr[-500:]), r.returncode, 0)
            signed = os.path.join(out, "ORBAXLiveUpdate.exe")
            status, report, digests = verify(signed, ca)
            check.equal("%s: osslsigncode verify" % what, status, 0)
            check.true("%s: the signature verifies" % what, "Signature verification: ok" in report)
            check.equal("%s: the signature covers the built file" % what, digests, [built, built])
            check.equal("%s: the timestamp" % what, "Timestamp Server Signature verification: ok" in report, stamped)
        check.equal("the timestamp server was asked once", tsa.answered, 1)

        # One changed byte in the signed program, past the headers: refused.
        changed = os.path.join(folder, "changed.exe")
        data = bytearray(open(os.path.join(folder, "pfx", "ORBAXLiveUpdate.exe"), "rb").read())
        data[len(data) // 3] ^= 0x01
        open(changed, "wb").write(data)
        status, _, digests = verify(changed, ca)
        check.true("a changed byte fails the signature", status != 0 and len(set(digests)) == 2)

        # A wrong password signs nothing.
        wrong = os.path.join(folder, "wrong")
        open(wrong, "w").write("not it\n")
        out = os.path.join(folder, "out-wrong")
        r = subprocess.run([RELEASE, "--exe", program, "--pfx", pfx, "--pass-file", wrong, "--out", out],
                           capture_output=True, text=True, timeout=120)
        check.true("a wrong password fails the release step", r.returncode != 0)
        check.true("and leaves no program", not os.path.exists(os.path.join(out, "ORBAXLiveUpdate.exe")))
    finally:
        if tsa:
            tsa.close()
        shutil.rmtree(folder, ignore_errors=True)
    check.finish()


if __name__ == "__main__":
    main()
