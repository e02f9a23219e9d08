#!/usr/bin/env python3
"""Screenshots of the Windows program under Wine and a virtual display, at 96, 120 and
144 dots per inch: the folder, progress, finish (after success and after failure) and
uninstall views and the retry dialog, in ENGLISH, FRENCH and PORTUGUESE, into
<build>/screenshots/<view>-<language>-<dpi>.png.

Every shot waits for its window (by title) and for what it shows to settle; a shot
that stays blank (one colour) fails the run.

usage: screenshots.py [BUILD_DIR]   (default: build/windows where Wine runs 32-bit
                                     programs, else build/windows-x64)
"""
import http.server
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402

MAIN_CLASS = "ORBAXLiveUpdateMain"
DEFAULT_FOLDER = "C:\\Program Files\\Drevanto\\Kestrova"
LANGUAGES = ("ENGLISH", "FRENCH", "PORTUGUESE")
DPIS = (96, 120, 144)
# Where Wine reads the screen's DPI: the user's setting, else the machine's.
DPI_KEYS = ("HKEY_CURRENT_USER\\Control Panel\\Desktop",
            "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\Fonts")


class Failure(Exception):
    pass


def texts(document, language):
    """The texts of a language section of a language document, over the English ones
    (the program's fallback for a text left empty)."""
    with open(os.path.join(ROOT, "resources", "lang", document), encoding="latin-1") as f:
        body = f.read()

    def section(name):
        m = re.search(r"<%s>(.*?)</%s>" % (name, name), body, re.S)
        found = {}
        for key, value in re.findall(r'<(S_\w+)\s*(?:Value\s*)?=\s*"([^"]*)"', m.group(1) if m else ""):
            if value and key not in found:
                found[key] = value
        return found

    return dict(section("ENGLISH"), **section(language))


class StallingServer:
    """Announces a body, sends a part of it and then waits: the progress view stays."""

    def __init__(self):
        release = self.release = threading.Event()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Length", "100000")
                self.end_headers()
                self.wfile.write(b"x" * 37000)
                self.wfile.flush()
                release.wait(120)

            def log_message(self, *a):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/kestrova/kestrovafull.zip" % self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.release.set()
        self.httpd.shutdown()
        self.httpd.server_close()


class Display:
    """A virtual screen of its own."""

    def __init__(self):
        for n in range(150, 250):
            if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
                break
        self.name = ":%d" % n
        self.xvfb = subprocess.Popen(["Xvfb", self.name, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        env = dict(os.environ, DISPLAY=self.name)

        def up():
            if self.xvfb.poll() is not None:
                raise Failure("the virtual display %s did not start" % self.name)
            return subprocess.run(["xdotool", "getdisplaygeometry"], env=env, capture_output=True).returncode == 0

        if not e2e.wait_until(up, 30, 0.2):
            self.close()
            raise Failure("the virtual display %s did not answer" % self.name)

    def close(self):
        self.xvfb.kill()
        self.xvfb.wait()


class Session:
    """The program's runs on one Wine prefix and display."""

    def __init__(self, build, display):
        self.build = build
        self.out = os.path.join(build, "screenshots")
        os.makedirs(self.out, exist_ok=True)
        # A prefix of its own: the DPI set here is no business of the tests' prefix.
        os.environ["LU_E2E_WINEPREFIX"] = os.path.join(build, "wineprefix-screenshots")
        self.machine = e2e.Machine(build, "windows")
        self.env = dict(self.machine.env, DISPLAY=display.name)
        self.machine.env = self.env
        self.helper = os.path.join(build, "tests", "lu-win32.exe")
        self.shots = []

    def set_dpi(self, dpi):
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stderr=subprocess.DEVNULL)
        for key in DPI_KEYS:
            self.machine.run("reg", ["add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f"])

    def start(self, url, args):
        updater = self.machine.updater(url)
        return subprocess.Popen(self.machine.command(updater, args), env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def stop(self, process, title):
        process.kill()
        process.wait()
        # The next run's window is found by the same title: this one must be gone.
        if not e2e.wait_until(lambda: not self.windows(title), 60, 0.3):
            raise Failure("the window %r stayed after its program ended" % title)

    def windows(self, title):
        r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(title)],
                           env=self.env, capture_output=True, text=True)
        return r.stdout.split()

    def wait_window(self, title, seconds=300):
        """The window with this title, once it is on the screen (Wine's first start in
        a fresh prefix takes a while)."""
        try:
            r = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "^%s$" % re.escape(title)],
                               env=self.env, capture_output=True, text=True, timeout=seconds)
        except subprocess.TimeoutExpired:
            raise Failure("no window titled %r came in %d s" % (title, seconds))
        return r.stdout.split()[-1]

    def find(self, text):
        """The screen position of a visible control of the main window showing text."""
        r = self.machine.run(self.helper, ["find", MAIN_CLASS, text], timeout=60)
        return tuple(r.stdout.split()) if r.returncode == 0 else None

    def click(self, text, seconds=120):
        at = e2e.wait_until(lambda: self.find(text), seconds, 0.3)
        if not at:
            raise Failure("no control %r to click" % text)
        subprocess.run(["xdotool", "mousemove", at[0], at[1], "click", "1"], env=self.env, check=True)

    def wait_for(self, what, condition, seconds=120):
        if not e2e.wait_until(condition, seconds, 0.3):
            raise Failure("%s did not come in %d s" % (what, seconds))

    def shot(self, window, name, seconds=60):
        """The window's picture once two takes a moment apart agree; a failure when it
        is still one colour by then."""
        path = os.path.join(self.out, name + ".png")
        with tempfile.TemporaryDirectory() as tmp:
            previous = None
            end = time.monotonic() + seconds
            while True:
                take = os.path.join(tmp, "take.png")
                subprocess.run(["import", "-display", self.env["DISPLAY"], "-window", window, take],
                               env=self.env, capture_output=True)
                if os.path.exists(take):
                    pixels = subprocess.run(["convert", take, "rgb:-"], capture_output=True).stdout
                    colours = subprocess.run(["identify", "-format", "%k", take], capture_output=True,
                                             text=True).stdout.strip()
                    if pixels and pixels == previous and colours not in ("", "1"):
                        os.replace(take, path)
                        break
                    previous = pixels
                if time.monotonic() >= end:
                    raise Failure("%s: the window stayed blank or kept changing" % name)
                time.sleep(0.5)
        self.shots.append(path)
        print(path, flush=True)


def take_all(session, dpi, package):
    for lang in LANGUAGES:
        installer, liveupdate = texts("installer.xml", lang), texts("liveupdate.xml", lang)
        title, install = installer["S_FormCaption"], installer["S_BInstall"]
        suffix = "%s-%d" % (lang, dpi)

        stalling = StallingServer()
        try:
            p = start_view(session, stalling.url, lang, title)
            session.wait_for("the folder view", lambda: session.find(DEFAULT_FOLDER))
            session.shot(session.wait_window(title), "folder-" + suffix)
            session.click(install)
            session.wait_for("the progress view", lambda: not session.find(install))
            session.shot(session.wait_window(title), "progress-" + suffix)
            session.stop(p, title)
        finally:
            stalling.close()

        for view, path in (("finish-success-", "/kestrova/kestrovafull.zip"), ("finish-failure-", "/missing.zip")):
            with e2e.PackageServer(package) as server:
                p = start_view(session, "http://127.0.0.1:%d%s" % (server.port, path), lang, title)
                session.click(install)
                session.wait_for("the finish view", lambda: session.find("OK"), 180)
                session.shot(session.wait_window(title), view + suffix)
                session.stop(p, title)

        # A program holds an installed file: the update asks to retry.
        with e2e.PackageServer(package) as server:
            machine = session.machine
            # Not through pipes: Wine's services, started by this run, would keep them open.
            subprocess.run(machine.command(machine.updater(server.url), ["/HIDE"]), env=session.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
            held = DEFAULT_FOLDER + "\\readme.txt"
            ready = os.path.join(machine.root, "ready-%s" % suffix)
            holder = subprocess.Popen(machine.command(os.path.join(session.build, "tests", "lu-child.exe"),
                                                      ["hold", held, "Z:" + ready.replace("/", "\\")]),
                                      env=session.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                session.wait_for("the program holding a file", lambda: os.path.exists(ready), 120)
                p = start_view(session, server.url, lang, title)
                session.click(install)
                retry = installer["S_FRetryCaption"]
                session.shot(session.wait_window(retry, 180), "retry-" + suffix)
                session.stop(p, title)
            finally:
                holder.kill()
                holder.wait()

        title = liveupdate["S_FormCaption"]
        p = start_view(session, "http://127.0.0.1:9/x.zip", lang, title,
                       ["/uninstall", "HKEY_CURRENT_USER\\Software\\ScreenshotOnly"])
        session.shot(session.wait_window(title), "uninstall-" + suffix)
        session.stop(p, title)


def start_view(session, url, lang, title, more=()):
    p = session.start(url, ["/language", lang] + list(more))
    session.wait_window(title)
    return p


def default_build():
    runs_32bit = subprocess.run(["/usr/lib/wine/wine", "--version"], capture_output=True).returncode == 0
    return os.path.join(ROOT, "build", "windows" if runs_32bit else "windows-x64")


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else default_build())
    try:
        display = Display()
    except Failure as e:
        print("screenshots: %s" % e, file=sys.stderr)
        return 1
    session = None
    try:
        session = Session(build, display)
        package = e2e.make_package({"readme.txt": b"screenshots\r\n"})
        for dpi in DPIS:
            session.set_dpi(dpi)
            take_all(session, dpi, package)
    except Failure as e:
        print("screenshots: %s" % e, file=sys.stderr)
        return 1
    finally:
        if session:
            subprocess.run(["wineserver", "-k"], env=session.env, stderr=subprocess.DEVNULL)
            session.machine.close()
        display.close()
    print("%d screenshots in %s" % (len(session.shots), session.out))
    return 0


if __name__ == "__main__":
    sys.exit(main())
