#!/usr/bin/env python3
"""Pastes into a typed answer: the answer probe runs in a pseudo-terminal of 80 x 24, a line
of 2,000 characters is typed, the cursor is put at its start, middle or end, and N characters
are pasted at once, then Enter. For each paste the bytes the probe writes to the terminal
from the paste to its report are counted, and the wall time from the first pasted byte to
the report is taken; both are set beside the paste at the end of the line.

    bench/paste_bench.py BUILD_FOLDER [RUNS]

BUILD_FOLDER is a build of the bench preset with the target answer_probe; RUNS (default 5)
is the number of pastes of each kind, of which the medians are given. Nothing is asserted.
"""

import os
import pty
import select
import signal
import statistics
import struct
import sys
import termios
import fcntl
import time

HOME = b"\x1b[H"
LINE = 2000
SIZES = (1000, 10000, 32000, 100000)
PLACES = ("start", "middle", "end")


def setup_keys(place):
    """Keys that type a line of LINE characters and leave the cursor at place."""
    if place == "start":
        return b"b" * LINE + HOME
    if place == "middle":
        return b"b" * (LINE // 2) + HOME + b"a" * (LINE // 2)
    return b"b" * LINE


class probe:
    def __init__(self, program):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execv(program, [program])
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        self.output = b""
        self.pump(b"", lambda: b"answer?\r\n" in self.output)

    def pump(self, data, done, limit=120):
        """Writes data while reading what comes back, until done() holds."""
        deadline = time.monotonic() + limit
        while data or not done():
            if time.monotonic() > deadline:
                raise SystemExit("the probe did not answer in time")
            writers = [self.fd] if data else []
            readable, writable, _ = select.select([self.fd], writers, [], 0.1)
            if readable:
                try:
                    self.output += os.read(self.fd, 1 << 16)
                except OSError:
                    return
            if writable:
                n = os.write(self.fd, data[:4096])
                data = data[n:]

    def settle(self, quiet=0.3):
        """Reads until nothing has come for quiet seconds."""
        while select.select([self.fd], [], [], quiet)[0]:
            self.output += os.read(self.fd, 1 << 16)

    def close(self):
        try:
            os.kill(self.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        os.waitpid(self.pid, 0)
        os.close(self.fd)


def paste_once(program, place, size):
    """(bytes written, seconds) for one paste of size characters at place."""
    p = probe(program)
    try:
        p.pump(setup_keys(place), lambda: True)
        p.settle()
        before = len(p.output)
        started = time.monotonic()
        p.pump(b"7" * size + b"\r", lambda: b"choice=" in p.output[before:])
        took = time.monotonic() - started
        return p.output.index(b"field=", before) - before, took
    finally:
        p.close()


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    program = os.path.join(sys.argv[1], "tests", "answer_probe")
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    print("Paste of N characters into a line of %d, pseudo-terminal 80 x 24, median of %d"
          % (LINE, runs))
    print("%8s  %-6s  %12s  %9s  %12s  %10s" % ("N", "where", "bytes", "time", "bytes ratio",
                                                "time ratio"))
    for size in SIZES:
        results = {}
        for place in PLACES:
            samples = [paste_once(program, place, size) for _ in range(runs)]
            results[place] = (statistics.median(s[0] for s in samples),
                              statistics.median(s[1] for s in samples))
        end_bytes, end_time = results["end"]
        for place in PLACES:
            written, took = results[place]
            print("%8d  %-6s  %12d  %7.1f ms  %12.2f  %10.2f"
                  % (size, place, written, took * 1000, written / end_bytes, took / end_time))


if __name__ == "__main__":
    main()
