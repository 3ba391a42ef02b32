#!/usr/bin/env python3
"""Makes a synthetic game file that pixelwarde-testbed accepts.

The file has the exact length of the chosen release, the bytes 4D 5A 90 00 at offset 0,
eight resolution slots at the release's slot table, and "pixelwarde-testbed" followed by
a zero byte at its guard block. Every other byte is zero. The releases (file name, length,
slot table and guard block offsets) are the tests' own statement of them in releases.txt.

    make_game_file.py cstrike.exe            # release 1 (cstrike.exe)
    make_game_file.py hl.exe --row 2         # release 2 (hl.exe)
"""

import argparse
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import releases  # noqa: E402

DEFAULT_SLOTS = "320x240,400x300,512x384,640x480,800x600,1024x768,1152x864,1280x1024"
GUARD_TEXT = b"pixelwarde-testbed"


def parse_slots(text):
    """"WxH,..." or raw 8-byte slots as 16 hex digits ("8002000001E00000")."""
    slots = []
    for item in text.split(","):
        if "x" in item:
            width, height = (int(v) for v in item.split("x"))
            slots.append(struct.pack("<II", width, height))
        else:
            slots.append(bytes.fromhex(item))
    if len(slots) != 8 or any(len(s) != 8 for s in slots):
        raise SystemExit("eight slots of eight bytes are needed")
    return b"".join(slots)


def game_file_bytes(row=1, slots=DEFAULT_SLOTS, length_delta=0, guard=GUARD_TEXT):
    r = releases.row(row)
    data = bytearray(r.length)
    data[0:4] = b"\x4d\x5a\x90\x00"
    data[r.slot_table:r.slot_table + 64] = parse_slots(slots)
    data[r.guard:r.guard + len(guard) + 1] = guard + b"\x00"
    if length_delta > 0:
        data += bytes(length_delta)
    elif length_delta < 0:
        del data[length_delta:]
    return bytes(data)


def slot_offset(row, slot):
    return releases.row(row).slot_table + (slot - 1) * 8


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output")
    parser.add_argument("--row", type=int, default=1,
                        choices=range(1, len(releases.RELEASES) + 1))
    parser.add_argument("--slots", default=DEFAULT_SLOTS,
                        help="eight slots, WxH or 16 hex digits each, comma-separated")
    parser.add_argument("--length-delta", type=int, default=0,
                        help="bytes added to (or, negative, cut from) the required length")
    parser.add_argument("--guard", default=GUARD_TEXT.decode(),
                        help="text at the guard block (empty: the block starts with zero)")
    args = parser.parse_args()
    with open(args.output, "wb") as f:
        f.write(game_file_bytes(args.row, args.slots, args.length_delta, args.guard.encode()))


if __name__ == "__main__":
    main()
