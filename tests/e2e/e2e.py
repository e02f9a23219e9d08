"""End-to-end runs of the built updater, as a user (or the application) runs it.

A loopback HTTP server serves a package; a copy of the built updater is pointed at
it with lu-defaults; the updater runs on a machine of its own (a fresh
ORBAX_PREFIX for the Linux port, a Wine prefix for the Windows build), and the
test then reads the installed files, the registry and the exit status.
"""
import http.server
import io
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))


def wait_until(condition, seconds, interval=0.1):
    """Polls condition until it gives a true value, which it returns; None when the
    time runs out. A test waits on what it needs, never for a fixed time."""
    end = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= end:
            return None
        time.sleep(interval)


def _processes(*fragments):
    """The ids of this machine's processes with every fragment in their command line
    (a program under Wine shows its Windows command line there too)."""
    for pid in os.listdir("/proc"):
        if not pid.isdigit() or int(pid) == os.getpid():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                line = f.read().replace(b"\0", b" ").decode("latin-1")
        except OSError:
            continue
        if all(fragment in line for fragment in fragments):
            yield int(pid)


def processes_running(*fragments):
    """Whether a process of this machine has every fragment in its command line."""
    return any(True for _ in _processes(*fragments))


def kill_processes(*fragments):
    """Kills (SIGKILL) every process with every fragment in its command line;
    whether there was one."""
    killed = False
    for pid in _processes(*fragments):
        try:
            os.kill(pid, signal.SIGKILL)
            killed = True
        except OSError:
            pass
    return killed


def endless_answer(first=b"", length=None):
    """An answer for PackageServer: first, then bytes until the client goes; with
    a Content-Length of length when given, else none (the connection's end would
    end the body)."""
    def answer(handler):
        handler.send_response(200)
        if length is None:
            handler.send_header("Connection", "close")
        else:
            handler.send_header("Content-Length", str(length))
        handler.end_headers()
        handler.close_connection = True
        try:
            handler.wfile.write(first)
            block = b"z" * 65536
            while True:
                handler.wfile.write(block)
        except OSError:
            pass
    return answer


def send(handler, status, body, headers=None):
    """A whole answer with its Content-Length."""
    handler.send_response(status)
    for name, value in (headers or {}).items():
        handler.send_header(name, value)
    handler.send_header("Content-Length", str(len(body)))
    handler.end_headers()
    handler.wfile.write(body)


class PackageServer:
    """Serves one package at /kestrova/kestrovafull.zip on 127.0.0.1, and the files
    of others ({path: bytes}) beside it. A callable in place of bytes answers
    itself (given the request handler). With hold (a threading.Event), every
    answer waits until it is set."""

    def __init__(self, package: bytes, path="/kestrova/kestrovafull.zip", others=None, hold=None):
        self.package = package
        self.path = path
        self.others = dict(others or {})
        self.requests = []
        self.hold = hold
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                outer.requests.append((self.path, dict(self.headers)))
                if outer.hold:
                    outer.hold.wait(300)
                body = outer.package if self.path == outer.path else outer.others.get(self.path)
                if callable(body):
                    body(self)
                    return
                if body is None:
                    send(self, 404, b"not here")
                else:
                    send(self, 200, body, {"Content-Type": "application/zip"})

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)

    @property
    def url(self):
        return "http://127.0.0.1:%d%s" % (self.port, self.path)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.httpd.shutdown()
        self.httpd.server_close()


def make_package(files):
    """A ZIP of {name: bytes or (bytes, unix_mode)}; names use "/"."""
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for name, content in files.items():
            mode = None
            if isinstance(content, tuple):
                content, mode = content
            info = zipfile.ZipInfo(name, date_time=(2024, 5, 17, 10, 30, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            if mode is not None:
                info.create_system = 3
                info.external_attr = (mode << 16)
            z.writestr(info, content)
    return out.getvalue()


# The run's log, which every run appends to in TEMP.
LOG_FILES = {"ORBAXLiveUpdate.log", "ORBAXLiveUpdate.log.1"}

RUN_KEY = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"


class Machine:
    """The machine a run happens on; paths given to it are Windows path texts."""

    def __init__(self, build, target):
        self.build = os.path.abspath(build)
        self.target = target
        self.root = tempfile.mkdtemp(prefix="lu-e2e-")
        self.exe = ".exe" if target == "windows" else ""
        native = os.path.join(SOURCE, "build", "linux")
        self.lu_defaults = os.path.join(native, "lu-defaults")
        if target == "linux":
            self.prefix = os.path.join(self.root, "prefix")
            os.makedirs(os.path.join(self.prefix, "drive_c"))
            self.tmp = os.path.join(self.root, "tmp")
            os.makedirs(self.tmp)
            self.env = dict(os.environ, ORBAX_PREFIX=self.prefix, TMPDIR=self.tmp)
            self.env.pop("http_proxy", None)
            self.env.pop("HTTP_PROXY", None)
        else:
            self.prefix = os.environ.get("LU_E2E_WINEPREFIX") or subprocess.check_output(
                [os.path.join(SOURCE, "scripts", "wine-run"), "--prefix-only"], text=True).strip()
            self.env = dict(os.environ, WINEPREFIX=self.prefix)
            self.tmp = None

    def forget_installation(self, folder, keys):
        """Windows runs share one Wine prefix: an earlier run's folder, keys and logon
        entry go first (a hidden run would otherwise update the folder that entry names)."""
        if self.target == "windows":
            for key in keys:
                self.reg_delete(key)
            subprocess.run(self.command("reg", ["delete", RUN_KEY, "/v", "Kestrova", "/f"]), env=self.env,
                           capture_output=True, timeout=120)
            shutil.rmtree(self.host(folder), ignore_errors=True)

    def close(self):
        shutil.rmtree(self.root, ignore_errors=True)

    # -- paths
    def host(self, path):
        """The host path of a Windows path text."""
        m = re.match(r"^([A-Za-z]):(.*)$", path)
        assert m, path
        rest = re.sub(r"\\+", "/", m.group(2)).lstrip("/")
        drive = m.group(1).upper()
        if drive == "Z":
            return "/" + rest
        assert drive == "C", path
        return os.path.join(self.prefix, "drive_c", rest)

    def temp_dir(self):
        if self.target == "linux":
            return self.tmp
        return self.host(self.run_capture(["cmd", "/c", "echo %TEMP%"]).strip())

    # -- programs
    def program(self, name):
        return os.path.join(self.build, name + self.exe)

    def updater(self, url, **fields):
        """A copy of the built updater pointed at url (and other defaults). The
        test servers speak plain http, so unsigned packages are taken over it
        unless the test says otherwise."""
        copy = os.path.join(self.root, "ORBAXLiveUpdate" + self.exe)
        shutil.copy(self.program("ORBAXLiveUpdate"), copy)
        fields = dict(dict(AllowUnauthenticated="1"), **fields)
        fields["DefaultDownloadURL"] = url
        for name, value in fields.items():
            subprocess.check_call([self.lu_defaults, copy, name, value], stdout=subprocess.DEVNULL)
        return copy

    def command(self, program, args):
        if self.target == "windows":
            return [os.path.join(SOURCE, "scripts", "wine-run"), program] + list(args)
        return [program] + list(args)

    def run(self, program, args, stdin=None, timeout=300):
        return subprocess.run(self.command(program, args), env=self.env, input=stdin, capture_output=True,
                              timeout=timeout)

    def run_capture(self, args):
        return subprocess.run(self.command(args[0], args[1:]), env=self.env, capture_output=True, text=True,
                              timeout=120).stdout

    # -- registry
    def reg_values(self, key):
        """{name: (type, data)} of a registry key ("HKEY_CURRENT_USER\\..."); None when missing."""
        if self.target == "windows":
            return self._wine_reg(key)
        root, _, path = key.partition("\\")
        hive = "user.reg" if root == "HKEY_CURRENT_USER" else "system.reg"
        return parse_regedit4(os.path.join(self.prefix, hive)).get((root + "\\" + path).lower())

    def _wine_reg(self, key):
        r = subprocess.run(self.command("reg", ["query", key]), env=self.env, capture_output=True, text=True,
                           timeout=120)
        if r.returncode != 0:
            return None
        values = {}
        for line in r.stdout.splitlines():
            m = re.match(r"^    (.*?)    (REG_\w+)    ?(.*)$", line)
            if m:
                name = "" if m.group(1) == "(Default)" else m.group(1)
                kind, data = m.group(2), m.group(3)
                if kind == "REG_DWORD":
                    data = int(data, 16)
                values[name] = (kind, data)
        return values

    def reg_delete(self, key):
        if self.target == "windows":
            subprocess.run(self.command("reg", ["delete", key, "/f"]), env=self.env, capture_output=True,
                           timeout=120)


def tree(root, folders=False):
    """{name as meant: bytes} of the files below a host folder, with "name/": None for
    every folder below it when asked. A name is UTF-8 on the host (Wine, the Linux
    port), or the program's 1252 bytes where a host keeps those."""
    def meant(path):
        raw = os.path.relpath(path, root.encode()).replace(os.sep.encode(), b"/")
        try:
            return raw.decode("utf-8")
        except UnicodeDecodeError:
            return raw.decode("cp1252")

    found = {}
    for folder, subfolders, files in os.walk(root.encode()):
        if folders:
            for sub in subfolders:
                found[meant(os.path.join(folder, sub)) + "/"] = None
        for leaf in files:
            path = os.path.join(folder, leaf)
            with open(path, "rb") as f:
                found[meant(path)] = f.read()
    return found


def parse_regedit4(path):
    """{lower-case key path: {name: (type, data)}} of a REGEDIT4 file."""
    keys = {}
    if not os.path.exists(path):
        return keys
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    current = None
    pending = ""
    for raw in text.splitlines():
        line = pending + raw
        if line.endswith("\\") and current is not None and not line.startswith("["):
            pending = line[:-1]
            continue
        pending = ""
        if line.startswith("[") and line.endswith("]"):
            current = {}
            keys[line[1:-1].lower()] = current
            continue
        if current is None or not line.strip():
            continue
        m = re.match(r'^(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        if not m:
            continue
        name = "" if m.group(1) == "@" else unescape(m.group(2))
        data = m.group(3)
        if data.startswith('"'):
            current[name] = ("REG_SZ", unescape(data[1:-1]))
        elif data.startswith("dword:"):
            current[name] = ("REG_DWORD", int(data[6:], 16))
        else:
            current[name] = ("OTHER", data)
    return keys


def unescape(s):
    return re.sub(r"\\(.)", r"\1", s)


class Check:
    """Collects failures so that one run reports everything that is wrong."""

    def __init__(self, name):
        self.name = name
        self.failures = []

    def equal(self, what, got, want):
        if got != want:
            self.failures.append("%s: got %r, want %r" % (what, got, want))

    def true(self, what, cond):
        if not cond:
            self.failures.append(what)

    def finish(self):
        if self.failures:
            print("FAILED %s" % self.name)
            for f in self.failures:
                print("  " + f)
            sys.exit(1)
        print("passed %s" % self.name)
