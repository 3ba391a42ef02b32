#include "terminal_keys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Keys written as text: a character as itself, an extended key as "<code>".
std::string describe(const std::vector<console_key>& keys) {
    std::string text;
    for (const console_key& k : keys) {
        if (k.extended) {
            text.append("<").append(std::to_string(k.code)).append(">");
        } else {
            text += static_cast<char>(k.code);
        }
    }
    return text;
}

// Feeds the bytes; "pause" marks where the short wait for a further byte runs out.
std::vector<console_key> decode(const std::string& bytes, bool pause_at_end = true) {
    terminal_key_decoder decoder;
    std::vector<console_key> keys;
    console_key key;
    for (const char c : bytes) {
        if (terminal_keys_feed(decoder, static_cast<std::uint8_t>(c), key)) {
            keys.push_back(key);
        }
    }
    if (pause_at_end && terminal_keys_flush(decoder, key)) {
        keys.push_back(key);
    }
    return keys;
}

struct decode_case {
    const char* what;
    std::string bytes;
    std::string keys;
};

TEST(terminal_keys, sequences_become_pc_key_codes) {
    const decode_case cases[] = {
        {"plain text", "12a", "12a"},
        {"Home in four forms", "\x1b[H\x1bOH\x1b[1~\x1b[7~", "<71><71><71><71>"},
        {"End in four forms", "\x1b[F\x1bOF\x1b[4~\x1b[8~", "<79><79><79><79>"},
        {"arrows, CSI and SS3", "\x1b[A\x1b[B\x1b[C\x1b[D\x1bOD", "<72><80><77><75><75>"},
        {"Delete, Insert, pages", "\x1b[3~\x1b[2~\x1b[5~\x1b[6~", "<83><82><73><81>"},
        {"F1 to F4 and F5, F12", "\x1bOP\x1bOS\x1b[15~\x1b[24~", "<59><62><63><134>"},
        {"Linux console F1", "\x1b[[A", "<59>"},
        {"modified arrow keeps its key", "\x1b[1;5D", "<75>"},
        {"Ctrl+Enter forms", "\x1b[27;5;13~\x1b[13;5u\n", "\n\n\n"},
        {"Backspace as 127 and 8", "\x7f\x08", "\b\b"},
        {"lone Esc after the wait", "\x1b", "\x1b"},
        {"Esc Esc", "\x1b\x1b", "\x1b\x1b"},
        {"unknown sequence dropped", "\x1b[99~x", "x"},
        {"cut sequence dropped", "\x1b[1", ""},
        {"Alt+x dropped", "\x1bx1", "1"},
        {"Latin-1 from UTF-8", "\xc3\xa4\xc2\xa0", "\xe4\xa0"},
        {"below U+00A0 and beyond U+00FF ignored", "\xc2\x85\xe2\x82\xac\xf0\x9f\x98\x80z", "z"},
        // U+010D, U+0434 and U+050A end in the bytes of Enter, "4" and Ctrl+Enter.
        {"two-byte characters beyond U+00FF ignored", "\xc4\x8d\xd0\xb4\xd4\x8az", "z"},
        {"broken UTF-8 dropped, next byte kept", "\xc3z\xa4", "z"},
        {"overlong sequence dropped", "\x1b[" + std::string(40, '1') + "~q", "q"},
    };
    for (const decode_case& c : cases) {
        EXPECT_EQ(describe(decode(c.bytes)), c.keys) << c.what;
    }
}

TEST(terminal_keys, waits_only_inside_a_sequence) {
    terminal_key_decoder decoder;
    console_key key;
    EXPECT_FALSE(terminal_keys_waiting(decoder));
    EXPECT_FALSE(terminal_keys_feed(decoder, 0x1b, key));
    EXPECT_TRUE(terminal_keys_waiting(decoder));
    EXPECT_FALSE(terminal_keys_feed(decoder, '[', key));
    EXPECT_TRUE(terminal_keys_feed(decoder, 'D', key));
    EXPECT_FALSE(terminal_keys_waiting(decoder));
    // A sequence that arrives whole is never taken for a lone Esc.
    EXPECT_EQ(describe(decode("\x1b[D", false)), "<75>");
}

TEST(stream_keys, each_line_end_is_one_enter) {
    const decode_case cases[] = {
        {"CR", "1\r2", "1\r2"},         {"LF", "1\n2", "1\r2"},
        {"CR LF", "1\r\n2", "1\r2"},    {"LF CR is two", "\n\r", "\r\r"},
        {"CR CR LF", "\r\r\n", "\r\r"}, {"no escape decoding", "\x1b[D\x7f", "\x1b[D\b"},
    };
    for (const decode_case& c : cases) {
        stream_key_decoder decoder;
        std::vector<console_key> keys;
        console_key key;
        for (const char b : c.bytes) {
            if (stream_keys_feed(decoder, static_cast<std::uint8_t>(b), key)) {
                keys.push_back(key);
            }
        }
        EXPECT_EQ(describe(keys), c.keys) << c.what;
    }
}

}  // namespace
