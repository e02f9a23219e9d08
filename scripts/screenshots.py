#!/usr/bin/env python3
"""Screenshots of the Windows program's views under Wine and a virtual display:
folder, progress, finish after success and after failure, retry dialog and uninstall views, in
ENGLISH, FRENCH and PORTUGUESE, into <build>/screenshots/.

usage: screenshots.py [BUILD_DIR]   (default build/windows-x64)
"""
import http.server
import os
import random
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import e2e  # noqa: E402


class StallingServer:
    """Announces a body, sends a part of it and then waits: the progress view stays."""

    def __init__(self):
        outer = self
        self.release = threading.Event()

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_response(200)
                self.send_header("Content-Length", "100000")
                self.end_headers()
                self.wfile.write(b"x" * 37000)
                self.wfile.flush()
                outer.release.wait(60)

            def log_message(self, *a):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/kestrova/kestrovafull.zip" % self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "windows-x64"))
    out = os.path.join(build, "screenshots")
    os.makedirs(out, exist_ok=True)
    display = ":%d" % random.randint(150, 250)
    xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    machine = e2e.Machine(build, "windows")
    env = dict(machine.env, DISPLAY=display)

    def shot(name, crop="443x270+290+258"):
        path = os.path.join(out, name + ".png")
        subprocess.run(["import", "-display", display, "-window", "root", "-crop", crop, path])
        print(path)

    def start(url, args):
        updater = machine.updater(url)
        return subprocess.Popen(machine.command(updater, args), env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def press_install():
        # The Install button of a window centred on the 1024 x 768 screen, at 96 dpi.
        subprocess.run(["xdotool", "mousemove", "682", "509", "click", "1"], env=env)

    def stop(p):
        p.kill()
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)
        time.sleep(1)

    try:
        package = e2e.make_package({"readme.txt": b"screenshots\r\n"})
        for lang in ("ENGLISH", "FRENCH", "PORTUGUESE"):
            stalling = StallingServer()
            p = start(stalling.url, ["/language", lang])
            time.sleep(6)
            shot("folder-" + lang)
            press_install()
            time.sleep(4)
            shot("progress-" + lang)
            stalling.release.set()
            stop(p)
            with e2e.PackageServer(package) as server:
                p = start(server.url, ["/language", lang])
                time.sleep(6)
                press_install()
                time.sleep(6)
                shot("finish-success-" + lang)
                stop(p)
            with e2e.PackageServer(package) as server:
                p = start(server.url.replace("kestrovafull", "missing"), ["/language", lang])
                time.sleep(6)
                press_install()
                time.sleep(5)
                shot("finish-failure-" + lang)
                stop(p)
            # A program holds an installed file: the update asks to retry.
            with e2e.PackageServer(package) as server:
                # Not through pipes: Wine's services, started anew after each stop, would keep them open.
                subprocess.run(machine.command(machine.updater(server.url), ["/HIDE"]), env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
                held = "C:\\Program Files\\Drevanto\\Kestrova\\readme.txt"
                ready = os.path.join(machine.root, "ready-" + lang)
                holder = subprocess.Popen(machine.command(os.path.join(build, "tests", "lu-child.exe"),
                                                          ["hold", held, "Z:" + ready.replace("/", "\\")]),
                                          env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                for _ in range(100):
                    if os.path.exists(ready):
                        break
                    time.sleep(0.2)
                p = start(server.url, ["/language", lang])
                time.sleep(6)
                press_install()
                time.sleep(6)
                shot("retry-" + lang, "520x360+252+204")
                holder.kill()
                stop(p)
            p = start("http://127.0.0.1:9/x.zip", ["/language", lang, "/uninstall",
                                                  "HKEY_CURRENT_USER\\Software\\ScreenshotOnly"])
            time.sleep(6)
            shot("uninstall-" + lang)
            stop(p)
    finally:
        machine.close()
        xvfb.kill()


if __name__ == "__main__":
    main()
