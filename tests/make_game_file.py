#!/usr/bin/env python3
"""Makes a synthetic game file that pixelwarde-testbed accepts.

The file has the exact length of the chosen release, the bytes 4D 5A 90 00 at offset 0,
eight resolution slots at the release's slot table, and "pixelwarde-testbed" followed by
a zero byte at its guard block. Every other byte is zero. The releases (file name, length,
slot table and guard block offsets) are read from the tool's own table in
src/run/releases.cpp, so a new release row is known here at once; a row that cannot be read
stops the script.

    make_game_file.py cstrike.exe            # release 1 (cstrike.exe)
    make_game_file.py hl.exe --row 2         # release 2 (hl.exe)
"""

import argparse
import os
import re
import struct

RELEASES_SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "src",
                               "run", "releases.cpp")


# A C++ integer literal: decimal, hexadecimal, binary or octal, with digit separators and
# suffixes.
INTEGER = r"(0[xX][0-9a-fA-F']+|0[bB][01']+|[0-9][0-9']*)[uUlLzZ]*"
ROW_START = re.compile(r'\s*"([^"]+)"\s*,\s*%s\s*,\s*%s\s*,\s*%s\s*,' % (INTEGER, INTEGER, INTEGER))


def cpp_integer(literal):
    digits = literal.replace("'", "")
    if digits[:2] in ("0x", "0X"):
        return int(digits[2:], 16)
    if digits[:2] in ("0b", "0B"):
        return int(digits[2:], 2)
    if len(digits) > 1 and digits[0] == "0":
        return int(digits[1:], 8)
    return int(digits)


def table_rows(text, path):
    """The text of each row of release_rows: every brace pair at the table's top level."""
    start = re.search(r"release_rows\[\]\s*=\s*\{", text)
    if not start:
        raise SystemExit("no release_rows table in " + path)
    rows, depth, opened, quoted = [], 0, 0, False
    for at in range(start.end(), len(text)):
        c = text[at]
        if quoted:
            quoted = c != '"' or text[at - 1] == "\\"
        elif c == '"':
            quoted = True
        elif c == "{":
            depth += 1
            opened = at + 1
        elif c == "}":
            if depth == 0:
                return rows
            depth -= 1
            rows.append(text[opened:at])
    raise SystemExit("the release_rows table in %s does not end" % path)


def read_rows(path=RELEASES_SOURCE):
    """{row number: (file name, required length, slot table offset, guard block offset)}.
    A row that does not read as a name and three integers stops the script, so that no row
    is ever silently left out."""
    with open(path, encoding="ascii") as f:
        text = f.read()
    rows = {}
    for n, row in enumerate(table_rows(text, path), 1):
        found = ROW_START.match(row)
        if not found:
            raise SystemExit("row %d of release_rows in %s cannot be read: %s" %
                             (n, path, " ".join(row.split())[:100]))
        name, length, slots, guard = found.groups()
        rows[n] = (name, cpp_integer(length), cpp_integer(slots), cpp_integer(guard))
    if not rows:
        raise SystemExit("no release rows in " + path)
    return rows


ROWS = read_rows()

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
    _, length, slot_offset, guard_offset = ROWS[row]
    data = bytearray(length)
    data[0:4] = b"\x4d\x5a\x90\x00"
    data[slot_offset:slot_offset + 64] = parse_slots(slots)
    data[guard_offset:guard_offset + len(guard) + 1] = guard + b"\x00"
    if length_delta > 0:
        data += bytes(length_delta)
    elif length_delta < 0:
        del data[length_delta:]
    return bytes(data)


def slot_offset(row, slot):
    return ROWS[row][2] + (slot - 1) * 8


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output")
    parser.add_argument("--row", type=int, choices=sorted(ROWS), default=1)
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
