#!/usr/bin/env python3
"""The tool says a slot is set only when it is in the file: real file-system faults (a FUSE
file system of the tests' own fails a write, an fsync or a close), a game file replaced
while the tool waits at the mode prompt, other programs kept off the file (Windows, under
Wine), and the order of the system calls on the healthy path (Linux, under strace). The
report reaches the user: an end signal while the flush waits, and output left non-blocking
and read late."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from display_xvfb import runs_on_the_display
from expected import (ENTER_PROMPT, MAYBE_WRITTEN, MODE_QUESTION, NOT_WRITTEN, SLOTS, TITLE,
                      advice, chosen_line, found, lines, mode_block, patched, slot_listing)
from harness import (TESTBED, UNDER_WINE, command, end_with_parent, game_folder, main,
                     piped_session, process_stat, run_piped, stop, tmux_pane, wait_for)

FAULTY_FS = os.environ.get("PW_FAULTY_FS", "")

# Keys: slot 1, the first mode, Enter at the end.
KEYS = b"11\r\r"
ERROR_SHARING_VIOLATION = 32


class faulty_mount:
    """The tests' FUSE file system over a scratch folder, failing one operation; stopped by
    its process id (it unmounts itself then) on leaving the with-block. With hold, every
    flush to the disk waits until release is called."""

    def __init__(self, fault, hold=False):
        self.fault = fault
        self.hold = hold

    def __enter__(self):
        self.root = tempfile.mkdtemp(prefix="pixelwarde-fuse-")
        self.backing = os.path.join(self.root, "backing")
        self.path = os.path.join(self.root, "mount")
        os.mkdir(self.backing)
        os.mkdir(self.path)
        argv = [FAULTY_FS, self.backing, self.path, self.fault]
        if self.hold:
            self.hold = os.path.join(self.root, "hold")
            argv.append(self.hold)
        self.process = subprocess.Popen(argv,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        preexec_fn=end_with_parent)
        deadline = time.monotonic() + 10
        while not os.path.ismount(self.path):
            if self.process.poll() is not None or time.monotonic() > deadline:
                error = self._stop()
                raise AssertionError("the FUSE file system did not mount: %r" % error)
            time.sleep(0.02)
        return self

    def __exit__(self, *exc):
        self._stop()

    def _stop(self):
        stop(self.process)
        error = self.process.stderr.read()
        self.process.stderr.close()
        if os.path.ismount(self.path):
            subprocess.run(["fusermount3", "-u", "-z", self.path], capture_output=True)
        shutil.rmtree(self.root, ignore_errors=True)
        return error

    def write_game(self):
        with game_folder() as g:
            data = g.write_game(slots=SLOTS)
        with open(os.path.join(self.backing, "cstrike.exe"), "wb") as f:
            f.write(data)
        return data

    def backing_bytes(self):
        with open(os.path.join(self.backing, "cstrike.exe"), "rb") as f:
            return f.read()

    def wait_for_hold(self):
        """Waits until a flush waits for release."""
        wait_for(lambda: os.path.exists(self.hold), "the flush to the disk to begin")

    def release(self):
        os.unlink(self.hold)


def skip_without_fuse():
    if not FAULTY_FS:
        raise unittest.SkipTest("the FUSE file system was not built (no libfuse3)")
    if not os.access("/dev/fuse", os.R_OK | os.W_OK):
        raise unittest.SkipTest("no usable /dev/fuse here")


class runs_with_keys(runs_on_the_display):

    def expected(self, report, typed=b"", prompt=ENTER_PROMPT):
        """The whole output of a run with KEYS that ends in report; typed is echoed before
        the answer's 1."""
        w, h = self.modes[0]
        return (TITLE + found("cstrike.exe") + slot_listing("cstrike.exe") +
                mode_block(1, self.modes) + typed + lines("1", "") +
                lines(chosen_line(w, h), "") + report + prompt)


class file_system_faults(runs_with_keys):
    """A write, an fsync or a close that fails on a real file system. Under Wine, only the
    fsync: FlushFileBuffers is Wine's fsync, and the close is the Wine server's."""

    @classmethod
    def setUpClass(cls):
        skip_without_fuse()
        super().setUpClass()

    def test_each_fault_gets_its_report(self):
        w, h = self.modes[0]
        cases = [("none", advice(w, h), True), ("fsync", MAYBE_WRITTEN, True)]
        if not UNDER_WINE:
            cases += [("write", NOT_WRITTEN, False), ("flush", MAYBE_WRITTEN, True)]
        for fault, report, changed in cases:
            with self.subTest(fault=fault), faulty_mount(fault) as m:
                before = m.write_game()
                status, out = run_piped(TESTBED, m.path, KEYS, env=self.display.env)
                self.assertEqual(out, self.expected(report))
                self.assertEqual(status, 0)
                after = m.backing_bytes()
                if changed:
                    # The fault came after the bytes went down: they are in the file.
                    self.assertEqual(after, patched(before, 1, 1, w, h))
                else:
                    self.assertEqual(after, before)


class end_signals_during_the_write(runs_with_keys):
    """An end signal that comes while the slot is flushed to the disk waits for the report:
    the user learns how the write went, and the run ends without the Enter prompt."""

    @classmethod
    def setUpClass(cls):
        skip_without_fuse()
        super().setUpClass()

    def cases(self):
        w, h = self.modes[0]
        return [("none", advice(w, h)), ("fsync", MAYBE_WRITTEN)]

    @unittest.skipIf(UNDER_WINE, "signals of the Linux build")
    def test_signal_while_the_flush_waits(self):
        w, h = self.modes[0]
        for fault, report in self.cases():
            for number in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
                with self.subTest(fault=fault, signal=number.name), \
                        faulty_mount(fault, hold=True) as m:
                    before = m.write_game()
                    with piped_session(TESTBED, m.path, env=self.display.env) as s:
                        s.send(KEYS)
                        m.wait_for_hold()
                        s.signal(number)
                        m.release()
                        status = s.wait()
                    self.assertEqual(s.output, self.expected(report, prompt=b""))
                    self.assertEqual(status, 0)
                    # The bytes went down before the flush: they are in the file.
                    self.assertEqual(m.backing_bytes(), patched(before, 1, 1, w, h))

    @unittest.skipUnless(UNDER_WINE, "Wine's console in a terminal")
    def test_ctrl_c_while_the_flush_waits(self):
        # Wine hands a console's Ctrl+C to the program through its one thread, which takes
        # it only once the flush has returned; the handler then comes during the report, or
        # after it, at the Enter prompt. Either way the report is out whole before the end.
        w, h = self.modes[0]
        for fault, report in self.cases():
            with self.subTest(fault=fault), faulty_mount(fault, hold=True) as m:
                before = m.write_game()
                with tmux_pane(TESTBED, m.path, env=self.display.env, columns=120,
                               rows=50) as pane:
                    pane.expect("Welche Aufloesung soll veraendert werden?")
                    pane.send(b"1")
                    pane.expect("Slot nicht veraendern")
                    pane.send(b"1\r")
                    m.wait_for_hold()
                    pane.send(b"\x03")
                    m.release()
                    # Wine's console draws with control sequences, and clears the screen
                    # when the program ends: the report is looked for in the bytes drawn.
                    reported = lines(chosen_line(w, h), "") + report
                    pane.wait_until(lambda: plain(reported) in plain(pane.output),
                                    "the report")
                    # Ended: tmux may see that only once Wine's console has let go of the
                    # terminal, which now and then takes long after the program's end.
                    pane.wait_until(lambda: pane.poll() is not None or
                                    process_stat(pane.pid)[0] == "Z", "the end")
                self.assertEqual(m.backing_bytes(), patched(before, 1, 1, w, h))


def plain(drawn):
    """Bytes drawn on a terminal without control sequences and carriage returns."""
    return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]|\r", b"", drawn)


# Started with its standard output non-blocking and standard input from a file.
NON_BLOCKING_OUTPUT = """if True:
    import os, sys
    fd = os.open(sys.argv[1], os.O_RDONLY)
    os.dup2(fd, 0)
    os.close(fd)
    os.set_blocking(1, False)
    os.execvp(sys.argv[2], sys.argv[2:])
"""


class late_reader(runs_with_keys):
    """Output that a caller left non-blocking (programs share that flag), read only after
    the run has long filled the pipe: every byte arrives, the report included."""

    def run_late(self, folder, typed):
        with tempfile.NamedTemporaryFile(prefix="pixelwarde-keys-") as keys:
            keys.write(b"1" + typed + b"1\r\r")
            keys.flush()
            argv = [sys.executable, "-c", NON_BLOCKING_OUTPUT, keys.name] + command(TESTBED)
            with piped_session(TESTBED, folder, env=self.display.env, argv=argv) as s:
                s.close_input()
                time.sleep(3)  # the reader that comes late
                status = s.wait()
        return status, s.output

    def test_every_byte_arrives(self):
        w, h = self.modes[0]
        blanks = b" " * 200_000
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            status, out = self.run_late(g.path, blanks)
            self.assertEqual(out, self.expected(advice(w, h), typed=blanks))
            self.assertEqual(status, 0)
            self.assertEqual(g.read(), patched(before, 1, 1, w, h))

    def test_every_byte_of_a_refused_write_arrives(self):
        skip_without_fuse()
        # A disk that refuses the write; under Wine, one that cannot flush it.
        fault, report = ("fsync", MAYBE_WRITTEN) if UNDER_WINE else ("write", NOT_WRITTEN)
        blanks = b" " * 200_000
        with faulty_mount(fault) as m:
            m.write_game()
            status, out = self.run_late(m.path, blanks)
        self.assertEqual(out, self.expected(report, typed=blanks))
        self.assertEqual(status, 0)


class file_replaced(runs_with_keys):

    def test_a_file_put_in_its_place_is_not_written(self):
        # While the tool waits at the mode prompt, the identified file is renamed away and a
        # copy takes its name, as an installer or a restore with mv would do.
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            with piped_session(TESTBED, g.path, env=self.display.env) as s:
                s.send(b"1")
                s.expect(MODE_QUESTION)
                os.rename(g.file("cstrike.exe"), g.file("cstrike.old"))
                with open(g.file("cstrike.exe"), "wb") as f:
                    f.write(before)
                s.send(b"1\r\r")
                s.close_input()
                status = s.wait()
            self.assertEqual(s.output, self.expected(NOT_WRITTEN))
            self.assertEqual(status, 0)
            self.assertEqual(g.read("cstrike.old"), before)
            self.assertEqual(g.read("cstrike.exe"), before)


@unittest.skipUnless(UNDER_WINE, "sharing rules are Windows'")
class sharing(runs_with_keys):

    def probe(self, folder):
        """What another Windows program gets when it opens the file for writing and when
        it renames it."""
        probe = os.environ["PW_SHARE_PROBE"]
        _, out = run_piped(probe, folder, argv=["wine", probe, "cstrike.exe"])
        return {name: int(code) for name, code in re.findall(rb"(open|move) (\d+)", out)}

    def test_nobody_else_writes_or_renames_while_the_tool_may_write(self):
        w, h = self.modes[0]
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            self.assertEqual(self.probe(g.path), {b"open": 0, b"move": 0})
            with piped_session(TESTBED, g.path, env=self.display.env) as s:
                s.send(b"1")
                s.expect(MODE_QUESTION)
                held = self.probe(g.path)
                s.send(b"1\r\r")
                s.close_input()
                status = s.wait()
            self.assertEqual(held, {b"open": ERROR_SHARING_VIOLATION,
                                    b"move": ERROR_SHARING_VIOLATION})
            self.assertEqual(s.output, self.expected(advice(w, h)))
            self.assertEqual(status, 0)
            self.assertEqual(g.read(), patched(before, 1, 1, w, h))


@unittest.skipIf(UNDER_WINE, "strace traces the Linux build")
class system_calls(runs_with_keys):

    def test_flush_and_close_come_between_the_write_and_the_advice(self):
        if shutil.which("strace") is None:
            self.skipTest("strace is not installed")
        w, h = self.modes[0]
        with game_folder() as g:
            before = g.write_game(slots=SLOTS)
            trace = g.file("trace")
            _, out = run_piped(TESTBED, g.path, KEYS, env=self.display.env,
                               argv=["strace", "-qq", "-o", trace, "-e",
                                     "trace=openat,pwrite64,fdatasync,fsync,close,write",
                                     TESTBED])
            self.assertEqual(out, self.expected(advice(w, h)))
            self.assertEqual(g.read(), patched(before, 1, 1, w, h))
            with open(trace) as f:
                calls = f.read().splitlines()

        def first(pattern, after=-1):
            for i in range(after + 1, len(calls)):
                if re.match(pattern, calls[i]):
                    return i
            self.fail("no call matching %r after line %d:\n%s"
                      % (pattern, after, "\n".join(calls)))

        opened = first(r'openat\(AT_FDCWD, "cstrike.exe", O_RDWR')
        fd = re.search(r"= (\d+)$", calls[opened]).group(1)
        written = first(r"pwrite64\(%s, " % fd, opened)
        flushed = first(r"f(data)?sync\(%s\) += 0" % fd, written)
        closed = first(r"close\(%s\) += 0" % fd, flushed)
        advised = first(r'write\(1, "Bitte ', written)
        self.assertLess(closed, advised)


if __name__ == "__main__":
    main()
