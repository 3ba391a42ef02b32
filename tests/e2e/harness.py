"""Runs the built programs as a user would, in a scratch game folder: with piped input and
output, in a pseudo-terminal, or in a tmux pane, alone or as a job of an interactive shell;
under Wine for the Windows build.

Every kind of session has the same surface:
  start    make one (a with-block stops it at its end, whatever happened inside)
  send     bytes as a terminal sends the keys, or as a pipe carries them
  expect   wait until a text shows after the one expected before; a failure shows what did.
           Once the run shows a text that ends it (expected.RUN_ENDS) instead, or waits at
           a question of the text after other lines (expected.QUESTIONS), the text can no
           longer come, and expect fails at once.
  wait     wait for the end; gives the exit code
  stop     end it by its process id if it runs on, and free what it holds
and `output`, everything the program wrote so far, and `pid`, its process id.

The programs come from the environment that CTest sets:
  PW_PROGRAM       pixelwarde (or pixelwarde.exe)
  PW_TESTBED       pixelwarde-testbed (or pixelwarde-testbed.exe)
  PW_ANSWER_PROBE  the answer probe
  PW_WINE          "1" for the Windows build, which then runs under wine with WINEPREFIX
  PW_VERSION       the version of project(), which the title line names
  WINEPREFIX       under Wine, the tests' own prefix (the build folder's wineprefix), never
                   the user's: a run by hand names it as CTest does
"""

import ctypes
import fcntl
import os
import pty
import select
import shlex
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import make_game_file  # noqa: E402
from expected import QUESTIONS, RUN_END_ROWS, RUN_ENDS  # noqa: E402

PROGRAM = os.environ.get("PW_PROGRAM", "")
TESTBED = os.environ.get("PW_TESTBED", "")
ANSWER_PROBE = os.environ.get("PW_ANSWER_PROBE", "")
UNDER_WINE = os.environ.get("PW_WINE") == "1"
WINEPREFIX = os.environ.get("WINEPREFIX", "")

# Every wait ends well within this; a hang fails the test instead of blocking CTest.
TIME_LIMIT = 60 if UNDER_WINE else 15


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


def exit_code(status):
    return os.waitstatus_to_exitcode(status)


def wait_for(condition, what, limit=TIME_LIMIT):
    """Waits until condition() gives something true, and gives it."""
    deadline = time.monotonic() + limit
    while True:
        found = condition()
        if found:
            return found
        if time.monotonic() > deadline:
            raise AssertionError("waited %g s in vain for %s" % (limit, what))
        time.sleep(0.05)


def shown(output, last_lines=40):
    """Output as a failure message shows it: its last lines, one to a row."""
    rows = output.splitlines(keepends=True)
    text = "".join("\n    %r" % row for row in rows[-last_lines:])
    if len(rows) > last_lines:
        text = "\n    (%d lines before these left out)" % (len(rows) - last_lines) + text
    return " (%d bytes):%s" % (len(output), text or "\n    nothing")


class _session:
    """What every kind of session shares. A kind gives _collect (take what the program wrote,
    waiting up to a time; true when something came), _finished (has it ended, with its exit
    code kept in status), stop, and what a failure shows beside the output (_seen)."""

    def __init__(self, limit):
        self.limit = limit
        self.output = b""
        self.pid = None
        self.status = None  # the exit code, once the end was seen
        self._expected_up_to = 0  # the next expect looks from here on

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def expect(self, text, limit=None):
        """Waits until the output shows text after the end of the text expected before."""
        limit = self.limit if limit is None else limit
        deadline = time.monotonic() + limit
        look_from = self._expected_up_to
        while True:
            at = self.output.find(text, look_from)
            if at >= 0:
                self._expected_up_to = at + len(text)
                return
            look_from = max(look_from, len(self.output) - len(text) + 1)
            instead = self._shown_instead_of(text)
            if instead is not None:
                self._fail("%r can no longer show after byte %d: the run showed %s instead"
                           % (text, self._expected_up_to, instead))
            left = deadline - time.monotonic()
            if left <= 0:
                self._fail("%r did not show within %g s after byte %d"
                           % (text, limit, self._expected_up_to))
            if not self._collect(left) and self._finished():
                self._fail("the program ended before %r showed after byte %d"
                           % (text, self._expected_up_to))

    def _shown_instead_of(self, text):
        """What the output shows, since the text expected before, in place of text, which is
        not there: a text that ends the run (RUN_ENDS), after which the program shows nothing
        more; or the first question that text holds (QUESTIONS), at which the program waits
        for a key, after other lines than text's up to it. None when neither shows."""
        at = self._expected_up_to
        for end in RUN_ENDS:
            if self.output.find(end, at) >= 0:
                return "its end %r" % end
        asked = [(text.find(q), q) for q in QUESTIONS if q in text]
        if asked:
            where, question = min(asked)
            lead = text[:where + len(question)]
            if self.output.find(question, at) >= 0 and self.output.find(lead, at) < 0:
                return "the question %r after other lines" % question
        return None

    def wait(self, limit=None):
        """Waits for the end, taking the rest of the output; gives the exit code."""
        limit = self.limit if limit is None else limit
        deadline = time.monotonic() + limit
        while not self._finished():
            left = deadline - time.monotonic()
            if left <= 0:
                self._fail("the program did not end within %g s" % limit)
            self._collect(min(left, 0.05))
        return self.status

    def poll(self):
        """The exit code if the program has ended, else None; does not wait."""
        return self.status if self._finished() else None

    def ends_within(self, seconds):
        """Whether the program ends by itself within seconds, taking its output meanwhile."""
        deadline = time.monotonic() + seconds
        while not self._finished():
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            self._collect(min(left, 0.05))
        return True

    def wait_until(self, condition, what, limit=None, instead=None):
        """Takes the output until condition() holds. instead, when given, tells what shows in
        place of what is waited for, once that can no longer come; the wait fails at once."""
        limit = self.limit if limit is None else limit
        deadline = time.monotonic() + limit
        while not condition():
            shown_instead = instead() if instead else None
            # Looked at again: what is awaited may have come just before the end showed.
            if shown_instead and not condition():
                self._fail("%s can no longer come: the run showed %s instead"
                           % (what, shown_instead))
            left = deadline - time.monotonic()
            if left <= 0:
                self._fail("waited %g s in vain for %s" % (limit, what))
            self._collect(min(left, 0.05))

    def watch(self, seconds):
        """Takes the output for a fixed time: for a measure over a time."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self._collect(deadline - time.monotonic())

    def settle(self, quiet=0.3):
        """Takes the output until the program has written nothing for quiet seconds: for a
        check that something did not happen, which no text can show."""
        while self._collect(quiet):
            pass

    def _fail(self, what):
        message = what + self._seen()
        self.stop()
        raise AssertionError(message)

    def _seen(self):
        return "; output so far" + shown(self.output)


class _stream_session(_session):
    """A session that reads the program's output from one file descriptor and writes its
    input to another (the same one for a terminal)."""

    def __init__(self, limit):
        super().__init__(limit)
        self._out = -1  # -1 once the output has ended or was closed
        self._in = -1

    def send(self, data):
        """Writes data as fast as the program takes it, taking its output meanwhile so that
        neither side waits on the other. Input that the program no longer takes (it ended
        or closed it) is dropped: what it did is in its output and its exit code."""
        if not data:
            return
        if self._in < 0:
            raise AssertionError("the program's input is closed")
        deadline = time.monotonic() + self.limit
        sent = 0
        os.set_blocking(self._in, False)
        try:
            while sent < len(data):
                if time.monotonic() > deadline:
                    self._fail("the program took %d of %d bytes of input within %g s"
                               % (sent, len(data), self.limit))
                readers = [self._out] if self._out >= 0 else []
                readable, writable, _ = select.select(readers, [self._in], [], 0.1)
                if readable:
                    self._collect(0)
                if writable:
                    try:
                        sent += os.write(self._in, data[sent:sent + 4096])
                    except BlockingIOError:
                        pass
                    except OSError:  # a closed pipe, a terminal whose other side is gone
                        return
        finally:
            if self._in >= 0:
                os.set_blocking(self._in, True)

    def _collect(self, limit):
        if self._out < 0:
            time.sleep(min(limit, 0.01))
            return False
        if not select.select([self._out], [], [], limit)[0]:
            return False
        try:
            chunk = os.read(self._out, 65536)
        except OSError:  # a terminal whose other side is closed
            chunk = b""
        if not chunk:
            self._output_ended()
            return False
        self.output += chunk
        return True

    def _output_ended(self):
        self._out = -1


class piped_session(_stream_session):
    """The program with its standard input and output on pipes. What it writes on standard
    error is kept apart, and shown when a test fails.

    argv, when given, is the whole command line (searched for in PATH). closed names the
    standard streams (0, 1, 2) that the program starts without; ignored the signals that it
    starts with ignored, as nohup or a script's background job leaves them."""

    def __init__(self, program, folder, env=None, argv=None, closed=(), ignored=(),
                 limit=TIME_LIMIT):
        super().__init__(limit)
        self._errors = tempfile.TemporaryFile()

        def before_exec():
            end_with_parent()
            for number in ignored:
                signal.signal(number, signal.SIG_IGN)
            for fd in closed:
                os.close(fd)

        self._process = subprocess.Popen(
            argv or command(program), cwd=folder, env=environment(env),
            stdin=subprocess.DEVNULL if 0 in closed else subprocess.PIPE,
            stdout=subprocess.DEVNULL if 1 in closed else subprocess.PIPE,
            stderr=subprocess.DEVNULL if 2 in closed else self._errors,
            preexec_fn=before_exec)
        self.pid = self._process.pid
        if self._process.stdin:
            self._in = self._process.stdin.fileno()
        if self._process.stdout:
            self._out = self._process.stdout.fileno()

    def close_input(self):
        """Ends the program's input, as the end of a file or Ctrl+D would."""
        self._in = -1
        if self._process.stdin and not self._process.stdin.closed:
            self._process.stdin.close()

    def close_output(self):
        """Closes the reading end of the program's output, as "| head -1" does after a line."""
        self._out = -1
        if self._process.stdout and not self._process.stdout.closed:
            self._process.stdout.close()

    def signal(self, number):
        self._process.send_signal(number)

    def errors(self):
        """What the program wrote on standard error so far."""
        self._errors.seek(0)
        return self._errors.read()

    def _finished(self):
        if self._out >= 0:
            return False
        self.status = self._process.poll()
        return self.status is not None

    def _seen(self):
        status = self._process.poll()
        return ("; %s; output so far%s; standard error%s"
                % ("ended with exit code %d" % status if status is not None else "still running",
                   shown(self.output), shown(self.errors())))

    def stop(self):
        if self._process.poll() is None:
            self._process.kill()
        self._process.wait()
        self.close_input()
        self.close_output()
        self._errors.close()


def run_piped(program, folder, data=b"", env=None, keep_open=False, argv=None, closed=()):
    """A whole run with data as standard input, which then ends; keep_open leaves it open,
    to show that the run does not wait for more. closed is as for piped_session. Gives
    (exit code, standard output)."""
    with piped_session(program, folder, env=env, argv=argv, closed=closed) as s:
        s.send(data)
        if not keep_open:
            s.close_input()
        return s.wait(), s.output


class pty_session(_stream_session):
    """The program in a pseudo-terminal of its own, columns x rows: keys are written as a
    terminal sends them, and everything the program writes is collected.

    argv, when given, is the whole command line (searched for in PATH). The program leads a
    session and a process group of its own; stop ends that group."""

    def __init__(self, program, folder, env=None, columns=80, rows=24, argv=None,
                 limit=TIME_LIMIT):
        super().__init__(limit)
        argv = argv or command(program)
        env = environment(env)
        self.pid, self._in = pty.fork()
        if self.pid == 0:
            try:
                fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
                os.chdir(folder)
                os.execvpe(argv[0], argv, env)
            except BaseException as e:
                os.write(2, ("cannot start %s: %s\r\n" % (argv, e)).encode())
            os._exit(127)
        self._out = self._in

    def terminal_echoes(self):
        """Whether the terminal is in its usual mode again, echoing what is typed."""
        return bool(termios.tcgetattr(self._in)[3] & termios.ECHO)

    def hang_up(self):
        """Closes the terminal, as closing its window does."""
        if self._in >= 0:
            os.close(self._in)
        self._in = self._out = -1

    def signal(self, number):
        os.kill(self.pid, number)

    def _finished(self):
        if self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid == 0:
                return False
            # What it wrote before it ended is still in the terminal.
            while self._collect(0):
                pass
            self.status = exit_code(status)
        return True

    def stop(self):
        if self.status is None:
            try:
                os.killpg(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            try:
                os.waitpid(self.pid, 0)
            except ChildProcessError:
                pass
            self.status = -signal.SIGKILL
        self.hang_up()


def children(pid):
    """The process ids of pid's children."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    if int(f.read().rsplit(")", 1)[1].split()[1]) == pid:
                        found.append(int(entry))
            except (FileNotFoundError, ProcessLookupError):
                pass
    return found


TICKS = os.sysconf("SC_CLK_TCK")  # processor ticks a second, as process_stat counts them


def process_stat(pid):
    """(state, processor ticks used) of a process, as /proc shows them."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return fields[0], int(fields[11]) + int(fields[12])


def ticks_over(s, pid, seconds):
    """Processor ticks a process uses while the session's output is taken for a while."""
    _, before = process_stat(pid)
    s.watch(seconds)
    _, after = process_stat(pid)
    return after - before


def read_calls(pid):
    """The read system calls a process has made, as /proc counts them."""
    with open("/proc/%d/io" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("syscr:"))


def waits_for_input_without_limit(pid):
    """Whether a Linux process sleeps in ppoll with no time-out (or poll with -1): it waits
    for input for ever, with no partial key pending."""
    with open("/proc/%d/syscall" % pid) as f:
        fields = f.read().split()
    if fields[0] == "271":  # ppoll(fds, count, time-out, signal mask)
        return int(fields[3], 16) == 0
    if fields[0] == "7":  # poll(fds, count, time-out in ms)
        return int(fields[3], 16) & 0xFFFFFFFF == 0xFFFFFFFF
    return False


def write_calls(pid):
    """The write system calls a process has made, as /proc counts them. On Linux a drawing of
    the line is one write; under Wine every console call is a write to the Wine server."""
    with open("/proc/%d/io" % pid) as f:
        return next(int(line.split()[1]) for line in f if line.startswith("syscw:"))


SHELLS = {"dash": ["dash", "-i"], "bash": ["bash", "--norc", "--noprofile", "-i"]}


class _shell:
    """What an interactive shell with job control does in any kind of session: its prompt,
    command lines, its one job. Jobs run in process groups of their own: stop ends those it
    has seen too."""

    PROMPT = b"pw-shell$ "
    ENV = {"PS1": PROMPT.decode(), "ENV": "", "HISTFILE": "/dev/null"}

    def _shown_instead_of(self, text):
        # The shell goes on after its job's run has ended: its own prompt still comes.
        prompt = self.PROMPT.rstrip()
        if (prompt if isinstance(text, bytes) else prompt.decode()) in text:
            return None
        return super()._shown_instead_of(text)

    def _ready(self):
        try:
            self.expect_prompt()
        except BaseException:
            self.stop()  # no test holds the shell yet to end it
            raise

    def run(self, line):
        """Types a command line and Enter."""
        self.send(line.encode() + b"\r")

    def job(self):
        """The process id of the shell's one child: the job it runs."""
        jobs = children(self.pid)
        if len(jobs) != 1:
            self._fail("the shell runs %d processes, not one job" % len(jobs))
        self._jobs.append(jobs[0])
        return jobs[0]

    def exit(self):
        """Ends the shell; gives its exit code."""
        self.run("exit")
        return self.wait()

    def stop(self):
        for pid in self._jobs:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self._jobs = []
        super().stop()


class shell_session(_shell, pty_session):
    """An interactive shell with job control (dash, which leaves the terminal settings to its
    jobs, or bash) in a pseudo-terminal, started in folder; ready once its prompt shows."""

    def __init__(self, folder, env=None, shell="dash", columns=80, rows=24, limit=TIME_LIMIT):
        self._jobs = []
        env = dict(env or {}, TERM="xterm", **self.ENV)
        super().__init__(None, folder, env=env, columns=columns, rows=rows, argv=SHELLS[shell],
                         limit=limit)
        self._ready()

    def expect_prompt(self):
        """Waits for the next prompt."""
        self.expect(self.PROMPT)


class tmux_pane(_session):
    """The program in the pane of a private tmux server (its own socket), columns x rows:
    keys are written as a terminal sends them, the screen is what tmux shows, and output holds
    the bytes the program wrote (all of them once whole_output is called). The pane stays when
    the program ends, so that its last screen can be read; expect waits for a text on the
    screen.

    argv, when given, is the whole command line (searched for in PATH)."""

    def __init__(self, program, folder, env=None, columns=80, rows=24, argv=None,
                 limit=TIME_LIMIT):
        super().__init__(limit)
        self._scratch = tempfile.mkdtemp(prefix="pixelwarde-tmux-")
        self._socket = os.path.join(self._scratch, "tmux")
        self._raw = os.path.join(self._scratch, "raw")
        self._raw_whole = self._raw + ".whole"  # made once the record is complete
        self._server = None
        self._recording = False
        config = os.path.join(self._scratch, "tmux.conf")
        with open(config, "w") as f:
            f.write("set -g remain-on-exit on\nset -g status off\n")
        env = environment(env)
        env.pop("TMUX", None)
        try:
            self._tmux("-f", config, "new-session", "-d", "-x", str(columns), "-y", str(rows),
                       "-c", folder, shlex.join(argv or command(program)), env=env)
            self._server, self.pid = map(int, self._tmux("display-message", "-p",
                                                         "#{pid} #{pane_pid}").split())
            # Everything the program writes, byte for byte; the mark is made once the record
            # has ended and cat has written all it was given.
            self._tmux("pipe-pane", "-o", "cat > %s && : > %s"
                       % (shlex.quote(self._raw), shlex.quote(self._raw_whole)))
            self._recording = True
        except BaseException:
            self.stop()  # no test holds the pane yet to end it
            raise

    def send(self, data):
        """Bytes as the terminal would send them for the keys typed."""
        if data:
            self._tmux("send-keys", "-H", *("%02x" % b for b in data))

    def paste(self, text):
        """Text put into the pane at once, as a terminal pastes it."""
        pasted = os.path.join(self._scratch, "pasted")
        with open(pasted, "w") as f:
            f.write(text)
        self._tmux("load-buffer", pasted)
        self._tmux("paste-buffer", "-d")

    def resize(self, columns, rows):
        self._tmux("resize-window", "-x", str(columns), "-y", str(rows))

    def screen(self):
        """The pane's rows as tmux shows them, blanks at their ends left out."""
        return self._tmux("capture-pane", "-p").removesuffix("\n").split("\n")

    def lines(self):
        """The screen as its reader sees it: rows that wrapped joined into one line, blanks at
        the ends of lines and blank lines at the end left out."""
        rows = [row.rstrip(" ") for row in self._tmux("capture-pane", "-p", "-J").split("\n")]
        while rows and not rows[-1]:
            rows.pop()
        return rows

    def cursor(self):
        x, y = self._tmux("display-message", "-p", "#{cursor_x} #{cursor_y}").split()
        return int(x), int(y)

    def expect(self, text, limit=None):
        """Waits until the screen shows text (a str; a line end stands between rows)."""
        self.wait_until(lambda: text in "\n".join(self.screen()),
                        "%r on the screen" % text, limit,
                        lambda: self._shown_instead_of(text))

    def expect_last_line(self, text, limit=None):
        """Waits until the last line of the screen that is not blank is text, as lines()
        gives it."""
        self.wait_until(lambda: self.lines()[-1:] == [text], "%r on the last line" % text,
                        limit, lambda: self._shown_instead_of(text))

    def _shown_instead_of(self, text):
        """The row of the screen that ends the run (RUN_END_ROWS), if one shows: nothing else
        comes after it."""
        for row in self.screen():
            if row.rstrip() in RUN_END_ROWS:
                return "its end %r" % row.rstrip()
        return None

    def expect_rows(self, first_row, rows, cursor=None, limit=None):
        """Waits until the screen shows rows from first_row on, and the cursor at cursor
        (column, row) when given."""
        def shows():
            return (self.screen()[first_row:first_row + len(rows)] == rows and
                    (cursor is None or self.cursor() == cursor))

        where = ("row %d" % first_row if len(rows) == 1 else
                 "rows %d to %d" % (first_row, first_row + len(rows) - 1))
        self.wait_until(shows, "%s to show %r%s"
                        % (where, rows,
                           "" if cursor is None else " with the cursor at %s" % (cursor,)),
                        limit, lambda: self._shown_instead_of("\n".join(rows)))

    def whole_output(self):
        """Ends the record of what the program writes, while it runs, and gives all that tmux
        had passed on to the record. Until then output holds what had reached the record when
        it was last read."""
        self._tmux("pipe-pane")
        self.wait_until(lambda: os.path.exists(self._raw_whole),
                        "the record of the output to be complete")
        with open(self._raw, "rb") as f:
            self.output = f.read()
        return self.output

    def _collect(self, limit):
        """Reads the record of the output again, every 0.05 s until it has grown or limit
        has passed; true when it grew."""
        deadline = time.monotonic() + limit
        before = len(self.output)
        while True:
            time.sleep(max(0, min(deadline - time.monotonic(), 0.05)))
            try:
                with open(self._raw, "rb") as f:
                    self.output = f.read()
            except FileNotFoundError:
                pass
            if len(self.output) > before or time.monotonic() >= deadline:
                return len(self.output) > before

    def _finished(self):
        if self.status is None:
            # tmux may see the terminal close a moment before it learns how the program ended.
            dead, status, signal_number = (self._tmux(
                "display-message", "-p", "#{pane_dead}:#{pane_dead_status}:#{pane_dead_signal}")
                .strip().split(":"))
            if dead != "1" or not (status or signal_number):
                return False
            self._collect(0)
            self.status = int(status) if status else -int(signal_number)
        return True

    def _seen(self):
        try:
            screen = self.screen()
            cursor = self.cursor()
        except AssertionError as e:
            return "; no screen to show: %s" % e
        return "; screen (cursor at column %d, row %d):%s" % (cursor + ("".join(
            "\n    %2d|%s" % (row, text) for row, text in enumerate(screen)),))

    def stop(self):
        if self._server is not None:
            # The server ends its pane's program, and itself a moment later.
            subprocess.run(["tmux", "-S", self._socket, "kill-server"], capture_output=True,
                           timeout=TIME_LIMIT)
            self._server = None
        # The record's command makes its mark once the server has closed the pipe; made
        # after the folder was removed, it would leave the folder behind.
        deadline = time.monotonic() + TIME_LIMIT
        while (self._recording and not os.path.exists(self._raw_whole)
               and time.monotonic() < deadline):
            time.sleep(0.01)
        shutil.rmtree(self._scratch, ignore_errors=True)

    def _tmux(self, *args, env=None):
        result = subprocess.run(["tmux", "-S", self._socket] + list(args), env=env,
                                capture_output=True, timeout=TIME_LIMIT)
        if result.returncode != 0:
            raise AssertionError("tmux %s: %s" % (" ".join(args), result.stderr.decode()))
        return result.stdout.decode("utf-8")


class tmux_shell(_shell, tmux_pane):
    """An interactive shell with job control (bash, or dash) in a tmux pane, started in
    folder; ready once its prompt shows."""

    def __init__(self, folder, env=None, shell="bash", columns=80, rows=24, limit=TIME_LIMIT):
        self._jobs = []
        # Given on the command line: tmux gives its panes a TERM of its own, and no PS1.
        settings = ["%s=%s" % pair for pair in dict(self.ENV, TERM="xterm").items()]
        super().__init__(None, folder, env=env, columns=columns, rows=rows,
                         argv=["env"] + settings + SHELLS[shell], limit=limit)
        self._ready()

    def expect_prompt(self):
        """Waits until the screen's last line is a prompt alone: the shell waits for a
        command line."""
        self.expect_last_line(self.PROMPT.decode().rstrip(" "))


def main():
    if not PROGRAM or not TESTBED:
        raise SystemExit("PW_PROGRAM and PW_TESTBED must name the built programs")
    if UNDER_WINE:
        own_wine_prefix()
    unittest.main(verbosity=2)
