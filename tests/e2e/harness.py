"""Runs the built programs as a user would: in a scratch game folder, with piped input,
in a real pseudo-terminal, or under Wine for the Windows build.

The programs come from the environment that CTest sets:
  PW_PROGRAM   pixelwarde (or pixelwarde.exe)
  PW_TESTBED   pixelwarde-testbed (or pixelwarde-testbed.exe)
  PW_WINE      "1" for the Windows build, which then runs under wine with WINEPREFIX
  PW_VERSION   the version of project(), which the title line names
  WINEPREFIX   under Wine, the tests' own prefix (the build folder's wineprefix), never the
               user's: a run by hand names it as CTest does
"""

import ctypes
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
import make_game_file  # noqa: E402

PROGRAM = os.environ.get("PW_PROGRAM", "")
TESTBED = os.environ.get("PW_TESTBED", "")
UNDER_WINE = os.environ.get("PW_WINE") == "1"
WINEPREFIX = os.environ.get("WINEPREFIX", "")

# Every run must end well within this; a hang fails the test instead of blocking CTest.
TIME_LIMIT = 60 if UNDER_WINE else 15

CRLF = b"\r\n"


def lines(*texts):
    """The console bytes of whole lines."""
    return b"".join(t.encode("latin-1") + CRLF for t in texts)


TITLE_LINE = lines("Pixelwarde " + os.environ.get("PW_VERSION", "(PW_VERSION not set)"))
TITLE = TITLE_LINE + lines("")
NOT_FOUND = lines("cstrike.exe und hl.exe nicht gefunden! Liegt pixelwarde im falschen Ordner?")
ENTER_PROMPT = lines("(Enter zum Beenden druecken)")


def found(name):
    return lines(name + " gefunden!", "")


def command(program):
    if UNDER_WINE:
        return ["wine", program]
    return [program]


def environment(extra=None):
    env = dict(os.environ)
    if UNDER_WINE:
        env["WINEPREFIX"] = own_wine_prefix()
        env.setdefault("WINEDEBUG", "-all")
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        env.pop("DISPLAY", None)
    if extra:
        env.update(extra)
    return env


class game_folder:
    """A scratch folder to run the tool in; removed afterwards."""

    def __enter__(self):
        self.path = tempfile.mkdtemp(prefix="pixelwarde-e2e-")
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)

    def file(self, name):
        return os.path.join(self.path, name)

    def write_game(self, name="cstrike.exe", row=1, **options):
        data = make_game_file.game_file_bytes(row, **options)
        with open(self.file(name), "wb") as f:
            f.write(data)
        return data

    def read(self, name="cstrike.exe"):
        with open(self.file(name), "rb") as f:
            return f.read()


def end_with_parent():
    """For preexec_fn: should the test itself be killed (a CTest time-out), the process
    started goes with it."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def stop(process, limit=10):
    """Stops a process the test started, by its process id: asked first, then killed."""
    if process.poll() is None:
        process.terminate()
    try:
        process.wait(timeout=limit)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def run_piped(program, folder, data=b"", env=None, keep_open=False):
    """Runs with data as standard input. keep_open leaves the input open after data, to
    show that the run does not wait for more. Returns (exit status, standard output)."""
    proc = subprocess.Popen(command(program), cwd=folder, stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            env=environment(env))
    try:
        if keep_open:
            proc.stdin.write(data)
            proc.stdin.flush()
            out = _read_until_exit(proc, TIME_LIMIT)
            proc.stdin.close()
        else:
            out, _ = proc.communicate(data, timeout=TIME_LIMIT)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        raise AssertionError("the program did not end in time")
    return proc.returncode, out


def _read_until_exit(proc, limit):
    out = b""
    deadline = time.monotonic() + limit
    fd = proc.stdout.fileno()
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            proc.kill()
            proc.wait()
            raise AssertionError("the program did not end in time; output: %r" % out)
        ready, _, _ = select.select([fd], [], [], left)
        if ready:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            out += chunk
    proc.wait(timeout=TIME_LIMIT)
    return out


class piped_session:
    """The program with piped input and output, driven step by step: wait for a text, act,
    send more keys."""

    def __init__(self, program, folder, env=None):
        self.proc = subprocess.Popen(command(program), cwd=folder, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     env=environment(env))
        self.output = b""

    def expect(self, text, limit=TIME_LIMIT):
        deadline = time.monotonic() + limit
        fd = self.proc.stdout.fileno()
        while text not in self.output:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise AssertionError("%r not seen; output: %r" % (text, self.output))
            chunk = os.read(fd, 65536)
            if not chunk:
                raise AssertionError("%r not seen before the end; output: %r"
                                     % (text, self.output))
            self.output += chunk

    def send(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def finish(self):
        """Ends the input; returns the exit status once the program has ended."""
        self.proc.stdin.close()
        self.output += _read_until_exit(self.proc, TIME_LIMIT)
        self.proc.stdout.close()
        return self.proc.returncode

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout):
            if not stream.closed:
                stream.close()


class terminal_session:
    """The program in a real pseudo-terminal: keys are written as a terminal sends them,
    and everything the program writes is collected."""

    def __init__(self, program, folder, env=None, columns=80, rows=24, argv=None):
        """argv, when given, is the whole command line, searched for in PATH."""
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(folder)
            if argv:
                os.execvpe(argv[0], argv, environment(env))
            os.execve(program, [program], environment(env))
        import fcntl
        import struct
        fcntl.ioctl(self.fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
        self.output = b""
        self.status = None

    def expect(self, text, limit=TIME_LIMIT, times=1):
        """Waits until the output holds text (bytes), at least the given number of times."""
        deadline = time.monotonic() + limit
        while self.output.count(text) < times:
            left = deadline - time.monotonic()
            if left <= 0 or not self._read(left):
                raise AssertionError("%r not seen; output: %r" % (text, self.output))

    def send(self, data, pause=0.05):
        os.write(self.fd, data)
        time.sleep(pause)

    def terminal_echoes(self):
        return bool(termios.tcgetattr(self.fd)[3] & termios.ECHO)

    def wait(self, limit=TIME_LIMIT):
        """Collects the rest of the output and the exit status."""
        deadline = time.monotonic() + limit
        while self._read(max(0.0, deadline - time.monotonic())):
            pass
        while self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.status = status
            elif time.monotonic() > deadline:
                os.kill(self.pid, signal.SIGKILL)
                os.waitpid(self.pid, 0)
                raise AssertionError("the program did not end in time")
            else:
                time.sleep(0.01)
        return self.status

    def signal(self, number):
        os.kill(self.pid, number)

    def close(self):
        if self.status is None:
            try:
                os.kill(self.pid, signal.SIGKILL)
                os.waitpid(self.pid, 0)
            except ProcessLookupError:
                pass
        os.close(self.fd)

    def _read(self, limit):
        ready, _, _ = select.select([self.fd], [], [], limit)
        if not ready:
            return False
        try:
            chunk = os.read(self.fd, 65536)
        except OSError:
            return False
        if not chunk:
            return False
        self.output += chunk
        return True


def own_wine_prefix():
    """The tests' Wine prefix; without one the tests would use, and stop, the user's own."""
    if not WINEPREFIX:
        raise SystemExit("PW_WINE=1 needs WINEPREFIX, the tests' own Wine prefix "
                         "(the build folder's wineprefix)")
    return WINEPREFIX


def stop_wineserver():
    """Ends the wineserver of the tests' own prefix, and every Wine process of that prefix."""
    env = dict(os.environ, WINEPREFIX=own_wine_prefix())
    subprocess.run(["wineserver", "-k"], env=env, timeout=TIME_LIMIT)


def exit_code(status):
    return os.waitstatus_to_exitcode(status)


def main():
    if not PROGRAM or not TESTBED:
        raise SystemExit("PW_PROGRAM and PW_TESTBED must name the built programs")
    if UNDER_WINE:
        own_wine_prefix()
    unittest.main(verbosity=2)
