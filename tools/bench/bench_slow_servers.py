#!/usr/bin/env python3
"""The updater against servers that take their time, as a hidden run meets them.

  trickle  one byte every 20 s after the head: the rate rule (under 1 KB/s over
           the last 120 s, counted over every attempt of the download) must end
           the run with a download error (exit status 2) after about two
           minutes, not the half hour the server would take nor a fresh window
           for each retry
  paced    a package of 350 MB at 5 MB/s without Content-Length (70 s): the
           stall rule counts the bytes received, so the run goes on as long as
           data flows and installs the package

Each case prints the run's exit status, its wall time and (where GNU time is
installed) its peak resident memory. A run still going after three minutes is
stopped and counts as a failure. Takes about three and a half minutes. The
Linux port only: a failed hidden run of the Windows build waits for its warning
box to be answered.

Usage: bench_slow_servers.py [BUILD_DIR]
"""

import os
import signal
import struct
import subprocess
import sys
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
import e2e  # noqa: E402


def trickle(handler):
    handler.send_response(200)
    handler.send_header("Content-Length", "1000")
    handler.end_headers()
    handler.wfile.flush()
    try:
        for _ in range(1000):
            time.sleep(20)
            handler.wfile.write(b"x")
            handler.wfile.flush()
    except OSError:
        pass


def stored_zip(name, size):
    """The head and tail of a ZIP holding one stored entry of size zero bytes."""
    crc = 0
    block = bytes(1 << 20)
    for done in range(0, size, len(block)):
        crc = zlib.crc32(block[:min(len(block), size - done)], crc)
    name = name.encode()
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 10, 0, 0, 0, 0x58A1, crc, size, size, len(name), 0) + name
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 10, 0, 0, 0, 0x58A1, crc, size, size, len(name), 0,
                          0, 0, 0, 0, 0) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 1, 1, len(central), len(local) + size, 0)
    return local, central + end


def paced(size, rate):
    head, tail = stored_zip("big.bin", size)

    def answer(handler):
        handler.send_response(200)
        handler.send_header("Connection", "close")
        handler.end_headers()
        handler.close_connection = True
        start = time.monotonic()
        sent = 0
        block = bytes(rate // 10)
        try:
            handler.wfile.write(head)
            while sent < size:
                piece = block[:min(len(block), size - sent)]
                handler.wfile.write(piece)
                sent += len(piece)
                ahead = start + sent / rate - time.monotonic()
                if ahead > 0:
                    time.sleep(ahead)
            handler.wfile.write(tail)
        except OSError:
            pass
    return answer


def run(machine, name, answer, expected, within=None, limit=180):
    """Runs a hidden update against the server; true when it ended with the
    expected exit status within limit seconds (and,
    when within is given, in that span)."""
    with e2e.PackageServer(answer) as server:
        updater = machine.updater(server.url)
        peak = os.path.join(machine.root, "peak.txt")
        timed = ["/usr/bin/time", "-f", "%M", "-o", peak] if os.path.exists("/usr/bin/time") else []
        start = time.monotonic()
        # A session of its own, so that GNU time and the updater stop together.
        process = subprocess.Popen(timed + machine.command(updater, ["/HIDE"]), env=machine.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            status = process.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            status = None
        seconds = time.monotonic() - start
    if status is None:
        print("%-8s still running after %.0f s, stopped: UNEXPECTED (want exit status %d within %d s)"
              % (name, seconds, expected, limit))
        return False
    memory = " peak %d KB" % int(open(peak).read().split()[-1]) if timed else ""
    in_time = within is None or within[0] <= seconds <= within[1]
    verdict = "as expected" if status == expected else "UNEXPECTED (want %d)" % expected
    if not in_time:
        verdict += ", UNEXPECTED duration (want %d to %d s)" % within
    print("%-8s exit status %d after %.0f s%s: %s" % (name, status, seconds, memory, verdict))
    return status == expected and in_time


def main():
    machine = e2e.Machine(sys.argv[1] if len(sys.argv) > 1 else "build/linux", "linux")
    try:
        ok = run(machine, "trickle", trickle, 2, within=(110, 150))  # the download failed
        ok = run(machine, "paced", paced(350 << 20, 5 << 20), 0) and ok
    finally:
        machine.close()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
