"""The releases the tests know, read from releases.txt beside this file: per release its file
name, length, slot table and guard block offsets, messages and whether the digests are
printed; and the accepted header and guard texts. A line that does not read stops the
reader: no release is ever left out or half read. Run with a file name, it writes them as the
C++ tables of the unit tests (support/stated_releases.h)."""

import collections
import json
import os
import sys

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


def cpp_tables():
    """The releases and texts as the C++ tables that stated_releases.h declares."""
    def text(value):
        return json.dumps(value)  # ASCII, so its escapes are C++'s too

    rows = "".join("    {%s, %d, %d, %d,\n     %s,\n     %s, %s},\n"
                   % (text(r.file_name), r.length, r.slot_table, r.guard,
                      text(r.length_message), text(r.altered_message),
                      "true" if r.prints_digests else "false") for r in RELEASES)

    def texts(values):
        return "".join("    %s,\n" % text(v) for v in values)

    return ("// Made by tests/releases.py from tests/releases.txt.\n"
            "#include \"stated_releases.h\"\n\n"
            "namespace {\n\n"
            "const stated_release releases[] = {\n%s};\n\n"
            "const std::string_view header_texts[] = {\n%s};\n\n"
            "const std::string_view guard_texts[] = {\n%s};\n\n"
            "}  // namespace\n\n"
            "const std::span<const stated_release> stated_releases = releases;\n"
            "const std::span<const std::string_view> stated_header_texts = header_texts;\n"
            "const std::span<const std::string_view> stated_guard_texts = guard_texts;\n"
            % (rows, texts(HEADER_TEXTS), texts(GUARD_TEXTS)))


if __name__ == "__main__":
    # releases.py FILE: writes the C++ tables to FILE for the unit tests.
    if len(sys.argv) != 2:
        raise SystemExit("usage: releases.py FILE")
    with open(sys.argv[1], "w", encoding="ascii") as f:
        f.write(cpp_tables())
