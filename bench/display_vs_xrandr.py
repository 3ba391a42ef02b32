#!/usr/bin/env python3
"""A whole display_modes_probe process (the run's display mode list: one X connection, a count
pass and a fill pass) beside a whole `xrandr --query` process, on the same private X server
with many modes (Xorg with the dummy video driver; Xvfb with one mode where Xorg cannot start).

    bench/display_vs_xrandr.py DISPLAY_MODES_PROBE [PAIRS] [DISPLAY_MODES_BENCH]

The two programs run in turn, PAIRS times (30 unless given), so that both see the same machine
load; wall time from start to exit of each process. Reported: the median of each, the ratio
of the medians and the median of the pairs' ratios (goal: at most 0.8). With the benchmark
program it also reports take_display_mode_list repeated within one process.
"""

import json
import os
import re
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from display_xvfb import unavailable, xorg_dummy, xvfb  # noqa: E402

GOAL = 0.8


def whole_process_seconds(command, env):
    started = time.perf_counter()
    subprocess.run(command, env=env, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - started


def probe_modes(probe, env):
    done = subprocess.run([probe], env=env, capture_output=True, check=True)
    return int(done.stdout.decode().splitlines()[-1].split()[1])


def xrandr_modes(env):
    text = subprocess.run(["xrandr", "--query"], env=env, capture_output=True,
                          check=True).stdout.decode()
    return sum(len(re.findall(r"\d+\.\d+", line)) for line in text.splitlines()
               if line.startswith("   "))


def benchmark_seconds(bench, env):
    done = subprocess.run([bench, "--benchmark_format=json", "--benchmark_repetitions=5",
                           "--benchmark_report_aggregates_only=true"],
                          env=env, capture_output=True, check=True)
    for row in json.loads(done.stdout)["benchmarks"]:
        if row.get("aggregate_name") == "median":
            scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[row["time_unit"]]
            return row["real_time"] * scale
    raise RuntimeError("no median in the benchmark's report")


def start_server():
    try:
        return xorg_dummy().__enter__(), "Xorg, dummy video driver"
    except unavailable as why:
        print("Xorg with the dummy driver cannot start (%s); using Xvfb" % why)
        return xvfb("1600x900x24").__enter__(), "Xvfb 1600x900x24"


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    probe = sys.argv[1]
    pairs = int(sys.argv[2]) if len(sys.argv) > 2 else 30
    bench = sys.argv[3] if len(sys.argv) > 3 else None
    server, kind = start_server()
    try:
        env = server.environment()
        sizes, rated = probe_modes(probe, env), xrandr_modes(env)
        for _ in range(3):  # warm the page cache for both
            whole_process_seconds([probe], env)
            whole_process_seconds(["xrandr", "--query"], env)
        probe_times, xrandr_times = [], []
        for _ in range(pairs):
            probe_times.append(whole_process_seconds([probe], env))
            xrandr_times.append(whole_process_seconds(["xrandr", "--query"], env))
        repeated = benchmark_seconds(bench, env) if bench else None
    finally:
        server.stop()

    probe_median = statistics.median(probe_times)
    xrandr_median = statistics.median(xrandr_times)
    pair_ratio = statistics.median(p / x for p, x in zip(probe_times, xrandr_times))
    print("%s: %d modes with their refresh rates, %d distinct sizes listed"
          % (kind, rated, sizes))
    print("%-40s %8.3f ms  (median of %d)" % ("xrandr --query, whole process",
                                               xrandr_median * 1e3, pairs))
    print("%-40s %8.3f ms  (median of %d)" % ("display_modes_probe, whole process",
                                               probe_median * 1e3, pairs))
    print("ratio of the medians %.3f, median of the pairs' ratios %.3f (goal at most %.1f)"
          % (probe_median / xrandr_median, pair_ratio, GOAL))
    if repeated is not None:
        print("%-40s %8.3f ms  (in one process, libraries loaded)"
              % ("take_display_mode_list, repeated", repeated * 1e3))
    return 0 if probe_median / xrandr_median <= GOAL else 1


if __name__ == "__main__":
    sys.exit(main())
