// Turns the bytes a terminal sends into keys: xterm-style escape sequences become extended
// keys, UTF-8 characters from U+00A0 to U+00FF become their Latin-1 byte. Plain logic, fed
// one byte at a time, so that it can be tested without a terminal.
#pragma once

#include <cstddef>
#include <cstdint>

#include "console.h"

struct terminal_key_decoder {
    std::uint8_t pending[16] = {};  // bytes of an escape sequence or UTF-8 character so far
    std::size_t length = 0;
    bool overlong = false;  // a control sequence too long to keep: skipped to its end
};

// Feeds one byte. Returns true and sets key when a key is complete.
bool terminal_keys_feed(terminal_key_decoder& decoder, std::uint8_t byte, console_key& key);

// True while the decoder holds the start of a sequence and waits for more bytes.
bool terminal_keys_waiting(const terminal_key_decoder& decoder);

// No further byte came within the short wait: a lone Esc gives the Esc key, a cut sequence
// or character is dropped. Returns true and sets key when that gives a key.
bool terminal_keys_flush(terminal_key_decoder& decoder, console_key& key);

// Input that is not a terminal: every byte is a key. CR, LF and CR LF are each one Enter,
// and byte 127 is Backspace.
struct stream_key_decoder {
    bool after_carriage_return = false;
};

// Feeds one byte. Returns true and sets key unless the byte is the LF of a CR LF.
bool stream_keys_feed(stream_key_decoder& decoder, std::uint8_t byte, console_key& key);
