#!/usr/bin/env python3
"""scripts/show_slots.py BEFORE AFTER

The slot table of a synthetic cstrike.exe after a run of scripts/run's demo: each slot's
eight bytes as written, and the changed ones marked with what they were before."""

import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
import make_game_file  # noqa: E402


def slots(name):
    start = make_game_file.slot_offset(1, 1)
    with open(name, "rb") as f:
        data = f.read()
    return [data[start + 8 * i:start + 8 * i + 8] for i in range(8)]


def main():
    before, after = (slots(name) for name in sys.argv[1:3])
    print()
    print("(slots of the synthetic cstrike.exe after the run; * = changed)")
    for i, (old, new) in enumerate(zip(before, after)):
        width, height = struct.unpack("<II", new)
        mark = "  * was %dx%d" % struct.unpack("<II", old) if new != old else ""
        print("  slot %d: %s  %dx%d%s" % (i + 1, new.hex(" ").upper(), width, height, mark))


if __name__ == "__main__":
    main()
