"""What the end-to-end tests compare against: the tool's fixed texts as the console shows
them, the texts after which a run shows nothing more, the slots of the synthetic game files
and what a written slot does to the file, and the answer probe's lines. The releases' numbers
and messages are the tests' own statement of them (tests/releases.txt); the digests are
worked out by the tests' own digest (tests/block_digest.py)."""

import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import block_digest  # noqa: E402
import make_game_file  # noqa: E402
import releases  # noqa: E402

CRLF = b"\r\n"

# Keys as an xterm sends them.
ESC = b"\x1b"
LEFT, RIGHT, UP, DOWN = ESC + b"[D", ESC + b"[C", ESC + b"[A", ESC + b"[B"
HOME, END, DELETE = ESC + b"[H", ESC + b"[F", ESC + b"[3~"
BACKSPACE = b"\x7f"
CTRL_C, CTRL_Z = b"\x03", b"\x1a"


def lines(*texts):
    """The console bytes of whole lines."""
    return b"".join(t.encode("latin-1") + CRLF for t in texts)


# Start-up and identification of the game file.
TITLE_LINE = lines("Pixelwarde " + os.environ.get("PW_VERSION", "(PW_VERSION not set)"))
TITLE = TITLE_LINE + lines("")
NOT_FOUND = lines("cstrike.exe und hl.exe nicht gefunden! Liegt pixelwarde im falschen Ordner?")
ENTER_PROMPT_ROW = "(Enter zum Beenden druecken)"  # as a row of the screen shows it
ENTER_PROMPT = lines(ENTER_PROMPT_ROW)

# Every synthetic file's header, 4D 5A 90: DB1131FF326055BD86F7618809AD1B28.
HEADER_DIGEST = block_digest.digest_text(b"\x4d\x5a\x90")
TESTBED_GUARD_DIGEST = block_digest.digest_text(make_game_file.GUARD_TEXT)
NO_TEXT = block_digest.NO_TEXT
LENGTH_1, LENGTH_2 = (r.length_message for r in releases.RELEASES)
ALTERED_1, ALTERED_2 = (r.altered_message for r in releases.RELEASES)


def found(name):
    return lines(name + " gefunden!", "")


# The slots most tests write: bytes 2, 3, 6 and 7 of the third are not all zero, to show
# that they are kept; and how the listing shows them.
SLOTS = "320x240,400x300,000200AA80010000,640x480,800x600,1024x768,1152x864,1280x1024"
SHOWN_SLOTS = [(320, 240), (400, 300), (512, 384), (640, 480), (800, 600), (1024, 768),
               (1152, 864), (1280, 1024)]

# The ends of the three questions, where the run waits for a key, and the rows of the
# screen that show them.
SLOT_QUESTION_ROW = "Welche Aufloesung soll veraendert werden?"
SLOT_QUESTION = lines(SLOT_QUESTION_ROW, "")
KEEP_CHOICE = "Slot nicht veraendern"
MODE_QUESTION = KEEP_CHOICE.encode() + CRLF  # the end of the block's last choice
ENTER_QUESTION = ENTER_PROMPT

# Where a broken run shows itself: a test that waits for a text fails at once when the run
# shows, since the text expected before, one of these instead of it.
# - The texts after which a run shows nothing more: the Enter prompt, after which the run ends
#   with Enter, and the line of a run that found no game file. Whatever text is awaited, it
#   can no longer come.
RUN_ENDS = (ENTER_PROMPT, NOT_FOUND)
RUN_END_ROWS = (ENTER_PROMPT_ROW, NOT_FOUND.decode("latin-1").rstrip())
# - The questions at which a run waits for a key. When the awaited text holds one, the run
#   waits there: if what it showed up to it differs from the text, the text does not come
#   (the run shows the question again only after the keys the test sends next).
QUESTIONS = (SLOT_QUESTION, MODE_QUESTION)

# The advice line of exactly 80 characters.
ADVICE_80 = "Field-of-vision-Variable in der config.cfg korrekt gesetzt werden, ansonsten ist"
WIDE_ADVICE = (
    lines("Bitte beachten: Fuer Wide-Screen-Aufloesungen (z. B. 16:9 oder 16:10) muss die")
    + ADVICE_80.encode()
    + lines("das Bild in die Breite verzerrt. Die Anpassung in der config.cfg lautet dann:", "",
            "(fuer 16:10): default_fov 100.39487232", "(fuer 16:9): default_fov 106.270273206",
            "",
            "Solle es sich ergeben, dass doch wieder 4:3-Aufloesungen verwendet werden, kann",
            "diese Variable durch \"//\" am Anfang wieder auskommentiert werden.",
            "Die config.cfg liegt normalerweise im Ordner \"cstrike\"."))
FOUR_TO_THREE_ADVICE = lines(
    "Bitte ggf. die \"default_fov\"-Variable in der config.cfg auskommentieren.")

KEPT = lines("Slot wird nicht veraendert!")
NOT_WRITTEN = lines("Fehler: Die Datei konnte nicht geschrieben werden.",
                    "Der Slot wurde nicht veraendert!")
MAYBE_WRITTEN = lines("Fehler: Die Datei konnte nicht geschrieben werden.",
                      "Der Slot ist moeglicherweise veraendert. Bitte das Backup zurueckspielen!")


def warning(name):
    """The listing's first line, which names the release's file."""
    return lines("Warnung! Dieses Programm veraendert die %s." % name)


def slot_listing(name):
    out = warning(name) + lines("Bitte vor Benutzung ein Backup anlegen.", "",
                "Welche CS-Aufloesung soll ersetzt werden?", "")
    for k, (w, h) in enumerate(SHOWN_SLOTS, 1):
        out += lines("(%d)  %dx %d" % (k, w, h))
    return out + lines("(9) ENDE", "") + SLOT_QUESTION


def listing(name="cstrike.exe"):
    """A run's whole output up to the slot question."""
    return TITLE + found(name) + slot_listing(name)


def mode_block(slot, modes):
    w, h = SHOWN_SLOTS[slot - 1]
    out = lines("Zu aendernder Aufloesungsslot:  %dx %d" % (w, h),
                "Welche der verfuegbaren Aufloesungen soll verwendet werden?")
    for i, (mw, mh) in enumerate(modes, 1):
        out += lines("(%d) %dx%d" % (i, mw, mh))
    return out + lines(keep_choice(modes))


def keep_choice(modes):
    """The mode block's last choice, after the modes."""
    return "(%d) %s" % (len(modes) + 1, KEEP_CHOICE)


def advice(w, h):
    return FOUR_TO_THREE_ADVICE if h == w / 4.0 * 3.0 else WIDE_ADVICE


def chosen_line(w, h):
    return "Sie haben die Aufloesung %dx%d gewaehlt." % (w, h)


def chosen(w, h):
    """What follows a typed answer that picks the mode w x h."""
    return lines("", chosen_line(w, h), "") + advice(w, h)


def patched(data, row, slot, w, h):
    """data with bytes 0, 1, 4 and 5 of the slot set to w and h."""
    out = bytearray(data)
    at = make_game_file.slot_offset(row, slot)
    out[at:at + 2] = struct.pack("<H", w)
    out[at + 4:at + 6] = struct.pack("<H", h)
    return bytes(out)


# The answer probe: its question, and the report line it gives for an answer.
PROBE_READY = "answer?"


def probe_report(field, number, choice):
    return "field=[%s] number=%s choice=%s" % (field, number, choice)
