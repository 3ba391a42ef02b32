#!/usr/bin/env python3
"""Whole runs of pixelwarde-testbed on a synthetic cstrike.exe in a scratch folder:

  start to listing   the run up to the slot listing (empty piped input: the run prints the
                     listing and ends at the slot choice), beside bare_start, a program that
                     only starts and ends; the two alternate, so both see the same machine
                     load. Once without a display (DISPLAY unset), once on a private Xvfb,
                     where the run also asks the X server for its modes.
  waiting            processor time used in two seconds of waiting at each prompt (slot
                     choice, mode choice, Enter prompt), in a pseudo-terminal and on a pipe
                     that stays open.
  peak memory        the maximum resident set size of a whole run that patches a slot.

    bench/run_bench.py BUILD_FOLDER [RUNS]

BUILD_FOLDER is a build of the bench preset with the targets pixelwarde-testbed and
bare_start; RUNS (default 300) is the number of runs of each program per setting.
Nothing is asserted about the figures; the script fails only if a run does not behave.
"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import make_game_file  # noqa: E402
from display_xvfb import xvfb  # noqa: E402
from harness import exit_code, piped_session, pty_session  # noqa: E402

SCREEN = "1600x900x24"
LISTING_END = b"Welche Aufloesung soll veraendert werden?\r\n\r\n"
MODE_BLOCK_END = b"Slot nicht veraendern\r\n"
ENTER_PROMPT = b"(Enter zum Beenden druecken)\r\n"
WAIT_SECONDS = 2.0
# Time for the program to pass from writing a prompt into its blocking read.
SETTLE_SECONDS = 0.2
LIMIT = 15


def environment(display):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    if display:
        env["DISPLAY"] = display
    return env


def timed_run(program, env):
    """Wall seconds of one run in the current folder, from spawn to reaped, with an empty
    pipe as input; and its exit status and output."""
    in_read, in_write = os.pipe()
    os.close(in_write)
    out_read, out_write = os.pipe()
    actions = [(os.POSIX_SPAWN_DUP2, in_read, 0), (os.POSIX_SPAWN_DUP2, out_write, 1),
               (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
    started = time.perf_counter()
    pid = os.posix_spawn(program, [program], env, file_actions=actions)
    os.close(out_write)
    out = b""
    while chunk := os.read(out_read, 65536):
        out += chunk
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter() - started
    os.close(out_read)
    os.close(in_read)
    return elapsed, exit_code(status), out


def check_run(name, status, out, expected_end):
    if status != 0 or not out.endswith(expected_end):
        raise SystemExit("%s misbehaved: status %d, output %r" % (name, status, out[-200:]))


def start_to_listing(testbed, bare, display, runs):
    """Medians and minimums (seconds) of the two programs, run alternately."""
    env = environment(display)
    for _ in range(5):  # warm the page cache and the X server
        timed_run(bare, env)
        timed_run(testbed, env)
    tool_times, bare_times = [], []
    for i in range(runs):
        # Alternate which goes first, so neither always follows the other.
        order = ((bare, bare_times), (testbed, tool_times))
        for program, times in order if i % 2 == 0 else reversed(order):
            elapsed, status, out = timed_run(program, env)
            if program == testbed:
                check_run("the tool", status, out, LISTING_END)
            else:
                check_run("bare_start", status, out, b"")
            times.append(elapsed)
    return (statistics.median(tool_times), min(tool_times),
            statistics.median(bare_times), min(bare_times))


def cpu_figures(pid):
    """(utime+stime in seconds, time on a processor in seconds, context switches)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])  # utime and stime, fields 14 and 15
    with open("/proc/%d/schedstat" % pid) as f:
        on_cpu_ns = int(f.read().split()[0])
    switches = 0
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(("voluntary_ctxt_switches", "nonvoluntary_ctxt_switches")):
                switches += int(line.split()[1])
    return ticks / os.sysconf("SC_CLK_TCK"), on_cpu_ns / 1e9, switches


def process_state(pid):
    with open("/proc/%d/stat" % pid) as f:
        return f.read().rsplit(")", 1)[1].split()[0]


def measure_wait(pid):
    time.sleep(SETTLE_SECONDS)
    before = cpu_figures(pid)
    time.sleep(WAIT_SECONDS)
    after = cpu_figures(pid)
    state = process_state(pid)
    return tuple(a - b for a, b in zip(after, before)) + (state,)


def wait_in_terminal(testbed, folder, display):
    with pty_session(testbed, folder, env={"DISPLAY": display}, limit=LIMIT) as s:
        figures = []
        s.expect(LISTING_END)
        figures.append(("slot choice",) + measure_wait(s.pid))
        s.send(b"1")
        s.expect(MODE_BLOCK_END)
        figures.append(("mode choice",) + measure_wait(s.pid))
        s.send(b"1\r")
        s.expect(ENTER_PROMPT)
        figures.append(("Enter prompt",) + measure_wait(s.pid))
        s.send(b"\r")
        if s.wait() != 0:
            raise SystemExit("the run in the terminal did not end with status 0")
        return figures


def wait_on_pipe(testbed, folder, display):
    with piped_session(testbed, folder, env=environment(display), limit=LIMIT) as s:
        figures = []
        s.expect(LISTING_END)
        figures.append(("slot choice",) + measure_wait(s.pid))
        s.send(b"1")
        s.expect(MODE_BLOCK_END)
        figures.append(("mode choice",) + measure_wait(s.pid))
        s.send(b"1\r")
        s.expect(ENTER_PROMPT)
        figures.append(("Enter prompt",) + measure_wait(s.pid))
        s.send(b"\r")
        s.close_input()
        if s.wait() != 0:
            raise SystemExit("the piped run did not end with status 0")
        return figures


def peak_memory_kib(program, folder, display, keys):
    """Maximum resident set size (KiB) of one run with keys as piped input."""
    env = environment(display)
    if os.path.exists("/usr/bin/time"):
        report = os.path.join(folder, "time.txt")
        subprocess.run(["/usr/bin/time", "-v", "-o", report, program], cwd=folder, env=env,
                       input=keys, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=LIMIT, check=True)
        with open(report) as f:
            for line in f:
                if "Maximum resident set size" in line:
                    os.remove(report)
                    return int(line.rsplit(":", 1)[1])
        raise SystemExit("no maximum resident set size in the report of /usr/bin/time")
    proc = subprocess.Popen([program], cwd=folder, env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    proc.stdin.write(keys)
    proc.stdin.close()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = exit_code(status)
    if proc.returncode != 0:
        raise SystemExit("the run ended with status %d" % proc.returncode)
    return usage.ru_maxrss


def print_start_to_listing(label, figures):
    tool_median, tool_min, bare_median, bare_min = figures
    print("  %s" % label)
    print("    pixelwarde-testbed  median %7.3f ms   min %7.3f ms" %
          (tool_median * 1e3, tool_min * 1e3))
    print("    bare_start          median %7.3f ms   min %7.3f ms" %
          (bare_median * 1e3, bare_min * 1e3))
    print("    ratio               median %7.2f      min %7.2f" %
          (tool_median / bare_median, tool_min / bare_min))


def print_waits(label, figures):
    print("  %s" % label)
    for prompt, ticks, on_cpu, switches, state in figures:
        print("    %-13s utime+stime %4.0f ms   on a processor %7.3f ms   "
              "context switches %d   state %s" % (prompt, ticks * 1e3, on_cpu * 1e3, switches,
                                                   state))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    testbed = os.path.join(build, "tests", "pixelwarde-testbed")
    bare = os.path.join(build, "bench", "bare_start")
    for program in (testbed, bare):
        if not os.access(program, os.X_OK):
            sys.exit("%s is not built" % program)

    folder = tempfile.mkdtemp(prefix="pixelwarde-bench-")
    game = os.path.join(folder, "cstrike.exe")
    original = make_game_file.game_file_bytes(1)
    top = os.getcwd()
    try:
        with open(game, "wb") as f:
            f.write(original)
        # The timed runs start in the game folder (posix_spawn has no folder of its own).
        os.chdir(folder)
        print("Start to the slot listing, %d alternating runs each:" % runs)
        quiet = start_to_listing(testbed, bare, None, runs)
        print_start_to_listing("no display (DISPLAY unset)", quiet)
        with xvfb(SCREEN) as server:
            shown = start_to_listing(testbed, bare, server.display, runs)
            print_start_to_listing("private Xvfb %s" % SCREEN, shown)
            print("    the display query adds %.3f ms (median), %.3f ms (min)" %
                  ((shown[0] - quiet[0]) * 1e3, (shown[1] - quiet[1]) * 1e3))
            os.chdir(top)

            print()
            print("Waiting %.0f s at each prompt (after %.1f s to settle), private Xvfb:" %
                  (WAIT_SECONDS, SETTLE_SECONDS))
            print_waits("pseudo-terminal", wait_in_terminal(testbed, folder, server.display))
            with open(game, "wb") as f:
                f.write(original)
            print_waits("pipe kept open", wait_on_pipe(testbed, folder, server.display))

            print()
            print("Peak memory (maximum resident set size):")
            with open(game, "wb") as f:
                f.write(original)
            kib = peak_memory_kib(testbed, folder, server.display, b"11\r\r")
            with open(game, "rb") as f:
                if f.read() == original:
                    raise SystemExit("the whole run did not patch the slot")
            print("  pixelwarde-testbed, whole run patching slot 1, private Xvfb   %6d KiB" % kib)
        with open(game, "wb") as f:
            f.write(original)
        kib = peak_memory_kib(testbed, folder, None, b"11\r\r")
        print("  pixelwarde-testbed, the same keys, no display               %6d KiB" % kib)
        kib = peak_memory_kib(bare, folder, None, b"")
        print("  bare_start                                                  %6d KiB" % kib)
    finally:
        os.chdir(top)
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
