"""The releases the tests know, read from releases.txt beside this file: per release its file
name, length, slot table and guard block offsets, messages and whether the digests are
printed; and the accepted header and guard texts. A line that does not read stops the
reader: no release is ever left out or half read."""

import collections
import os

PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "releases.txt")

release = collections.namedtuple(
    "release", "file_name length slot_table guard length_message altered_message prints_digests")

NUMBERS = ("length", "slot_table", "guard")
TEXTS = ("length_message", "altered_message")
FLAGS = {"yes": True, "no": False}


def read(path=PATH):
    """(releases in the order the tool tries them, header texts, guard texts)."""
    releases, texts = [], {"header_text": [], "guard_text": []}
    fields = None

    def close(where):
        if fields is None:
            return
        missing = [f for f in release._fields if f not in fields]
        if missing:
            raise SystemExit("%s: release %s lacks %s" % (where, fields["file_name"],
                                                          ", ".join(missing)))
        releases.append(release(**fields))

    with open(path, encoding="ascii") as f:
        numbered = list(enumerate(f, 1))
    for number, line in numbered:
        where = "%s:%d" % (path, number)
        stripped = line.strip()
        if not stripped or stripped.startswith("#"):
            continue
        key, _, value = stripped.partition(" ")
        if not value:
            raise SystemExit("%s: %r has no value" % (where, key))
        indented = line[0] in " \t"
        if not indented:
            close(where)
            fields = None
            if key == "release":
                fields = {"file_name": value}
            elif key in texts:
                texts[key].append(value)
            else:
                raise SystemExit("%s: unknown key %r" % (where, key))
            continue
        if fields is None or key not in release._fields or key == "file_name":
            raise SystemExit("%s: %r is no field of a release here" % (where, key))
        if key in fields:
            raise SystemExit("%s: %s given twice" % (where, key))
        if key in NUMBERS:
            try:
                fields[key] = int(value, 0)
            except ValueError:
                raise SystemExit("%s: %s %r is no number" % (where, key, value)) from None
        elif key in TEXTS:
            fields[key] = value
        elif value in FLAGS:
            fields[key] = FLAGS[value]
        else:
            raise SystemExit("%s: %s is yes or no, not %r" % (where, key, value))
    close(path)
    if not releases or not texts["header_text"] or not texts["guard_text"]:
        raise SystemExit("%s: releases, header texts and guard texts are all needed" % path)
    return releases, texts["header_text"], texts["guard_text"]


RELEASES, HEADER_TEXTS, GUARD_TEXTS = read()


def row(number):
    """Release number (1, 2, ...), as the tool counts its rows."""
    return RELEASES[number - 1]
