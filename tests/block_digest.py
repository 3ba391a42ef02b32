#!/usr/bin/env python3
"""The block digest written a second time, apart from the tool's C++: MD5's layout, constants
and rounds on 64-bit words that are never cut to 32 bits. Python's integers are masked to 64
bits after every operation, and the round functions are the textbook AND/OR/NOT forms, so that
a fault of the C++ code is not repeated here. digest_test's known answers and the digests
the end-to-end tests expect come from this file.

    tests/block_digest.py               # prints digest_test's known-answer tables again
    tests/block_digest.py 4D5A90 ...    # the digest text of each text given in hex
"""

import math
import sys

MASK = (1 << 64) - 1
INITIAL = (0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476)
NO_TEXT = "Kein Text enthalten"

# The sine constants, computed as their definition says rather than copied.
T = [int(abs(math.sin(i + 1)) * 2**32) & 0xFFFFFFFF for i in range(64)]
S = [7, 12, 17, 22] * 4 + [5, 9, 14, 20] * 4 + [4, 11, 16, 23] * 4 + [6, 10, 15, 21] * 4
K = ([i for i in range(16)] + [(1 + 5 * i) % 16 for i in range(16, 32)] +
     [(5 + 3 * i) % 16 for i in range(32, 48)] + [(7 * i) % 16 for i in range(48, 64)])


def NOT(x):
    return ~x & MASK


def F(x, y, z):
    return (x & y) | (NOT(x) & z)


def G(x, y, z):
    return (x & z) | (y & NOT(z))


def H(x, y, z):
    return x ^ y ^ z


def I(x, y, z):  # noqa: E741
    return y ^ (x | NOT(z))


ROUND = [F] * 16 + [G] * 16 + [H] * 16 + [I] * 16


def shift(v, s):
    """(v << s) OR (v >> (32 - s)) on the whole 64-bit word: no rotation."""
    return ((v << s) & MASK) | (v >> (32 - s))


def transform(state, block):
    x = [int.from_bytes(block[4 * j:4 * j + 4], "little") for j in range(16)]
    a, b, c, d = state
    for i in range(64):
        v = (a + ROUND[i](b, c, d) + x[K[i]] + T[i]) & MASK
        a = (b + shift(v, S[i])) & MASK
        a, b, c, d = d, a, b, c
    return [(w + n) & MASK for w, n in zip(state, (a, b, c, d))]


class context:
    def __init__(self):
        self.count = [0, 0]
        self.buffer = bytearray(64)
        self.state = list(INITIAL)

    def update(self, data, carry=True):
        """carry=False leaves out the carry into count[1], for the table of what it changes."""
        n = len(data)
        index = (self.count[0] >> 3) & 63
        self.count[0] = (self.count[0] + n * 8) & MASK
        if carry and self.count[0] < ((n * 8) & MASK):
            self.count[1] = (self.count[1] + 1) & MASK
        self.count[1] = (self.count[1] + (n >> 29)) & MASK
        part = 64 - index
        if n >= part:
            self.buffer[index:64] = data[:part]
            self.state = transform(self.state, self.buffer)
            i = part
            while i + 63 < n:
                self.state = transform(self.state, data[i:i + 64])
                i += 64
            index = 0
        else:
            i = 0
        self.buffer[index:index + n - i] = data[i:n]

    def final(self):
        length = (b"".join((w & 0xFFFFFFFF).to_bytes(4, "little") for w in self.count))
        index = (self.count[0] >> 3) & 63
        padding = 56 - index if index <= 55 else 120 - index
        self.update(b"\x80" + bytes(padding - 1))
        self.update(length)
        digest = b"".join((w & 0xFFFFFFFF).to_bytes(4, "little") for w in self.state)
        return digest.hex().upper()


def digest_text(text):
    """The digest text of text (bytes), or NO_TEXT for an empty one."""
    if not text:
        return NO_TEXT
    c = context()
    c.update(bytes(text))
    return c.final()


def known_answer_tables():
    """The rows of digest_test's tables, as they stand there."""
    out = ["// known_answers():"]
    for name, text, literal in [
            ("abc", b"abc", '"abc"'),
            ("header start 4D 5A 90", b"\x4d\x5a\x90", '"\\x4D\\x5A\\x90"'),
            ("one zero byte", b"\x00", "std::string(1, '\\0')"),
            ("55 a", b"a" * 55, "std::string(55, 'a')"),
            ("56 a", b"a" * 56, "std::string(56, 'a')"),
            ("63 a", b"a" * 63, "std::string(63, 'a')"),
            ("64 a", b"a" * 64, "std::string(64, 'a')"),
            ("1024 a", b"a" * 1024, "std::string(1024, 'a')"),
            ("16385 a", b"a" * 16385, "std::string(16385, 'a')"),
            ("16386 a", b"a" * 16386, "std::string(16386, 'a')")]:
        out.append('{"%s", %s, "%s"},' % (name, literal, digest_text(text)))
    empty = context()
    out.append("// the empty message through the streaming operations: %s" % empty.final())
    abc = context()
    abc.update(b"abc")
    abc.final()
    out.append("// state after \"abc\": " + ", ".join("0x%016X" % w for w in abc.state))
    zero = transform(list(INITIAL), bytes(64))
    out.append("// one transform of 64 zero bytes: " + ", ".join("0x%016X" % w for w in zero))
    out.append("// round_functions_act_on_all_64_bits: {x, y, z, F, G, H, I}")
    for x, y, z in [(0xEFCDAB89, 0x98BADCFE, 0x10325476),
                    (0x0123456789ABCDEF, 0xFEDCBA9876543210, 0xF0F0F0F00F0F0F0F),
                    (0xFFFFFFFF00000000, 0x00000000FFFFFFFF, 0xAAAAAAAA55555555)]:
        out.append("{" + ", ".join("0x%016Xu" % w for w in
                                   (x, y, z, F(x, y, z), G(x, y, z), H(x, y, z), I(x, y, z)))
                   + "},")
    out.append("// step_shift_keeps_the_upper_bits_in_the_word: {v, s, shifted}")
    for v, s in [(0x80000001, 12), (0x1D76AA477, 7), (0x0123456789ABCDEF, 4),
                 (0xFEDCBA9876543210, 23), (0xFFFFFFFF00000000, 17), (0x00000000FFFFFFFF, 21)]:
        out.append("{0x%016Xu, %d, 0x%016Xu}," % (v, s, shift(v, s)))
    # A message of 2^61 bytes leaves count[0] eight bits short of wrapping, 63 bytes waiting;
    # one more byte carries into count[1].
    for carry, what in ((True, "a carry out of the bit count"), (False, "  without the carry")):
        c = context()
        c.count = [MASK - 7, 5]
        c.update(b"x", carry)
        out.append("// %s: %s" % (what, c.final()))
    return "\n".join(out)


def main():
    if len(sys.argv) > 1:
        for text in sys.argv[1:]:
            print(digest_text(bytes.fromhex(text)))
    else:
        print(known_answer_tables())


if __name__ == "__main__":
    main()
