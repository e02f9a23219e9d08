#!/usr/bin/env python3
"""How a hidden run ends, by its exit status and its log, and downloads through
lines that fail: a server that cuts, one that answers a range with the whole,
a 503 with Retry-After, a proxy that asks for a password, a proxy bypassed.

usage: network_test.py BUILD_DIR linux|windows
"""
import base64
import http.client
import http.server
import os
import shutil
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e  # noqa: E402
import install_test  # noqa: E402

FOLDER = "C:\\Program Files\\Drevanto\\Kestrova"
UNREACHABLE = "http://127.0.0.1:1/kestrova/kestrovafull.zip"
MB = 1 << 20


def log_of(machine):
    path = os.path.join(machine.temp_dir(), "ORBAXLiveUpdate.log")
    return open(path, "rb").read().decode("latin-1") if os.path.exists(path) else ""


def run_logged(machine, updater, args=("/HIDE",), stdin=None, env=None):
    """A run and the log lines it added."""
    before = len(log_of(machine))
    r = subprocess.run(machine.command(updater, list(args)), env=dict(machine.env, **(env or {})), input=stdin,
                       capture_output=True, timeout=300)
    return r, log_of(machine)[before:]


def scripted(data, cuts=0, whole_to_ranges=False, busy=0):
    """An answer for PackageServer: the first `busy` requests get 503 with
    Retry-After 2; then the first `cuts` answers stop after 1 MB; a Range is
    honoured with 206 unless whole_to_ranges."""
    count = {"n": 0}

    def answer(h):
        n = count["n"]
        count["n"] += 1
        if n < busy:
            e2e.send(h, 503, b"", {"Retry-After": "2"})
            return
        start = 0
        asked = h.headers.get("Range")
        if asked and not whole_to_ranges:
            start = int(asked.split("=")[1].rstrip("-"))
            h.send_response(206)
            h.send_header("Content-Range", "bytes %d-%d/%d" % (start, len(data) - 1, len(data)))
        else:
            h.send_response(200)
        h.send_header("Content-Length", str(len(data) - start))
        h.send_header("ETag", '"p1"')
        h.end_headers()
        end = min(len(data), start + MB) if n - busy < cuts else len(data)
        h.wfile.write(data[start:end])
        h.wfile.flush()
        h.close_connection = True
    return answer


class BasicProxy:
    """A forward proxy on 127.0.0.1 that wants user:secret in Basic."""

    def __init__(self):
        self.seen = []
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                auth = self.headers.get("Proxy-Authorization", "")
                outer.seen.append((self.path, auth))
                if auth != "Basic " + base64.b64encode(b"user:secret").decode():
                    e2e.send(self, 407, b"", {"Proxy-Authenticate": 'Basic realm="test"'})
                    return
                host, _, rest = self.path[len("http://"):].partition("/")
                conn = http.client.HTTPConnection(host, timeout=60)
                conn.request("GET", "/" + rest)
                answer = conn.getresponse()
                e2e.send(self, answer.status, answer.read())

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d" % self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def statuses(check, machine, good):
    """A hidden run of each failing kind: its status, and its log names the cause."""
    held = {}

    def hold_readme():
        ready = os.path.join(machine.root, "held.ready")
        held["release"] = os.path.join(machine.root, "held.release")
        helper = os.path.join(machine.build, "tests", "lu-child" + machine.exe)
        win = lambda p: "Z:" + p.replace("/", "\\")  # noqa: E731
        held["p"] = subprocess.Popen(machine.command(helper, ["hold", FOLDER + "\\readme.txt", win(ready),
                                                              win(held["release"])]),
                                     env=machine.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        e2e.wait_until(lambda: os.path.exists(ready), 60)

    cases = [
        # what, package (None: no server, a dict: served elsewhere), defaults, before, status, the log's words
        ("no server", None, {}, None, 2, "Connection refused"),
        ("a server error", {}, {}, None, 2, "404"),
        ("plain http without a key", good, dict(AllowUnauthenticated="0"), None, 3, "only over https"),
        ("no ZIP", b"this is no archive" * 100, {}, None, 4, "Report: The server provided an invalid file."),
        ("a held file, nobody to retry", good, {}, hold_readme, 5, "Unable to copy one or more files."),
    ]
    for what, package, fields, before, want, words in cases:
        if before:
            before()
        try:
            if package is None:
                r, log = run_logged(machine, machine.updater(UNREACHABLE, **fields))
            else:
                path = "/elsewhere.zip" if isinstance(package, dict) else "/kestrova/kestrovafull.zip"
                with e2e.PackageServer(package or b"", path=path) as server:
                    url = "http://127.0.0.1:%d/kestrova/kestrovafull.zip" % server.port
                    r, log = run_logged(machine, machine.updater(url, **fields))
        finally:
            if held.get("p"):
                open(held.pop("release"), "w").close()
                held.pop("p").wait(60)
        check.equal("%s: exit status" % what, r.returncode, want)
        check.true("%s: the log names the cause (%r)" % (what, log[-600:]), words in log)
        check.true("%s: the log has the exit status" % what, "Exit status %d" % want in log)


def full_temp(check, machine, package):
    """A TEMP that fills during the download reads as a full disk, in the message
    and in the log (/LOG= puts it elsewhere)."""
    if os.geteuid() != 0 or not shutil.which("unshare"):
        print("full TEMP skipped: needs root and unshare")
        return
    log = os.path.join(machine.root, "elsewhere.log")
    with e2e.PackageServer(package) as server:
        script = 'mount -t tmpfs -o size=%d tmpfs "$TMPDIR" && exec "$@"' % MB
        r = subprocess.run(["unshare", "-m", "sh", "-c", script, "sh", machine.updater(server.url), "/HIDE",
                            "/LOG=Z:" + log.replace("/", "\\")], env=machine.env, capture_output=True, timeout=300)
    text = open(log, "rb").read().decode("latin-1") if os.path.exists(log) else ""
    check.equal("a full TEMP: exit status", r.returncode, 6)
    check.true("a full TEMP is named (%r)" % r.stderr[-300:], b"There is not enough space on the disk." in r.stderr)
    check.true("a full TEMP is not a stream error", b"Stream write error" not in r.stderr)
    check.true("a full TEMP: the log names it", "There is not enough space on the disk." in text)


def downloads(check, machine, package):
    """Scripted servers: each run installs the whole package in one run."""
    cases = [
        # what, answer, requests, how many of them with Range, the log's words
        ("cut after 1 MB three times", scripted(package, cuts=3), 4, 3, "resuming at byte %d" % (3 * MB)),
        ("a range answered whole", scripted(package, cuts=1, whole_to_ranges=True), 2, 1,
         "the server sends the whole body again"),
        ("503 with Retry-After 2", scripted(package, busy=1), 2, 0, "starting over in 2000 ms"),
    ]
    for what, answer, count, ranged, words in cases:
        with e2e.PackageServer(answer) as server:
            r, log = run_logged(machine, machine.updater(server.url))
        check.equal("%s: exit status (%r)" % (what, r.stderr[-300:]), r.returncode, 0)
        check.equal("%s: requests" % what, len(server.requests), count)
        check.equal("%s: requests with Range" % what, [h.get("Range") is not None for _, h in server.requests],
                    [False] + [True] * ranged + [False] * (count - 1 - ranged))
        check.true("%s: the log (%r)" % (what, log[-800:]), words in log)


def proxies(check, machine, package):
    proxy = BasicProxy()
    try:
        with e2e.PackageServer(package) as server:
            env = dict(http_proxy=proxy.url)
            r, log = run_logged(machine, machine.updater(server.url), env=env)
            check.equal("a proxy that asks, hidden: exit status", r.returncode, 2)
            check.true("a proxy that asks, hidden: the log has its answer", "407" in log)
            check.equal("a proxy that asks, hidden: nobody asked", b"Proxy sign-in" in r.stderr, False)
            # Visible: the folder as offered, the proxy's question, the finish view.
            r, log = run_logged(machine, machine.updater(server.url), args=(), env=env,
                                stdin=b"\nuser\nsecret\nn\n\n")
            check.equal("a proxy that asks, visible: exit status (%r)" % r.stderr[-300:], r.returncode, 0)
            check.true("a proxy that asks, visible: asked", b"Proxy sign-in" in r.stderr)
            check.true("the package came through the proxy", any(a for p, a in proxy.seen if p.endswith(".zip")))
            check.true("no password in the log", "secret" not in log and "dXNlcjpzZWNyZXQ" not in log)
            # no_proxy names the server: the dead proxy is never tried.
            r, log = run_logged(machine, machine.updater(server.url),
                                env=dict(http_proxy="http://127.0.0.1:1", no_proxy="127.0.0.1"))
            check.equal("no_proxy: exit status (%r)" % log[-400:], r.returncode, 0)
            check.true("no_proxy: the log says why", "no_proxy" in log)
    finally:
        proxy.close()


def main():
    build, target = sys.argv[1], sys.argv[2]
    if target != "linux":
        sys.exit(77)  # the Windows build's proxy comes from its own settings
    machine = e2e.Machine(build, target)
    check = e2e.Check("network_%s" % target)
    try:
        small = install_test.package(machine, 1)
        big = install_test.package(machine, 2, extra={"data/big.bin": os.urandom(3 * MB + MB // 2)})
        with e2e.PackageServer(small) as server:
            r, log = run_logged(machine, machine.updater(server.url))
        check.equal("the first installation", r.returncode, 0)
        check.true("the log names the version and arguments", "ORBAX Live Update 1." in log and "/HIDE" in log)
        check.true("the log has the request and its status", "GET http://127.0.0.1" in log and "200" in log)
        check.true("the log has the steps", "Step copy: done" in log)
        statuses(check, machine, small)
        downloads(check, machine, big)
        proxies(check, machine, small)
        full_temp(check, machine, big)
    finally:
        machine.close()
    check.finish()


if __name__ == "__main__":
    main()
