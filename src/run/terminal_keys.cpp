#include "terminal_keys.h"

namespace {

constexpr std::uint8_t byte_delete = 127;

console_key character(std::uint8_t code) { return {false, code}; }
console_key extended(std::uint8_t code) { return {true, code}; }

// ESC [ n ~ : the number names the key.
struct numbered_key {
    unsigned number;
    std::uint8_t code;
};
constexpr numbered_key tilde_keys[] = {
    {1, key_home},      {2, key_insert},  {3, key_delete},  {4, key_end},     {5, key_page_up},
    {6, key_page_down}, {7, key_home},    {8, key_end},     {11, key_f1},     {12, key_f1 + 1},
    {13, key_f1 + 2},   {14, key_f1 + 3}, {15, key_f1 + 4}, {17, key_f1 + 5}, {18, key_f1 + 6},
    {19, key_f1 + 7},   {20, key_f1 + 8}, {21, key_f1 + 9}, {23, key_f11},    {24, key_f12},
};

// The final letter of ESC [ ... x or ESC O x.
constexpr numbered_key letter_keys[] = {
    {'A', key_up},  {'B', key_down}, {'C', key_right},  {'D', key_left},   {'H', key_home},
    {'F', key_end}, {'P', key_f1},   {'Q', key_f1 + 1}, {'R', key_f1 + 2}, {'S', key_f1 + 3},
};

template <std::size_t n>
bool find_key(const numbered_key (&table)[n], unsigned number, console_key& key) {
    for (const numbered_key& k : table) {
        if (k.number == number) {
            key = extended(k.code);
            return true;
        }
    }
    return false;
}

bool tilde_key(unsigned number, console_key& key) { return find_key(tilde_keys, number, key); }

bool letter_key(std::uint8_t letter, console_key& key) {
    return find_key(letter_keys, letter, key);
}

// Up to three numeric parameters of a control sequence, separated by semicolons.
struct sequence_parameters {
    unsigned value[3] = {};
    int count = 0;
};

sequence_parameters parse_parameters(const std::uint8_t* bytes, std::size_t length) {
    sequence_parameters parameters;
    bool in_number = false;
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t b = bytes[i];
        if (b >= '0' && b <= '9') {
            if (!in_number && parameters.count < 3) {
                ++parameters.count;
                in_number = true;
            }
            unsigned& v = parameters.value[parameters.count - 1];
            if (v < 10000) {
                v = v * 10 + (b - '0');
            }
        } else {
            in_number = false;
            if (b == ';' && parameters.count == 0) {
                ++parameters.count;  // an empty first parameter
            }
        }
    }
    return parameters;
}

// A complete control sequence ESC [ <parameters> <final>.
bool control_sequence_key(const terminal_key_decoder& d, console_key& key) {
    const std::uint8_t final_byte = d.pending[d.length - 1];
    if (d.length >= 3 && d.pending[2] == '[') {
        // The Linux console's F1 to F5: ESC [ [ A to ESC [ [ E.
        if (d.length == 4 && final_byte >= 'A' && final_byte <= 'E') {
            key = extended(static_cast<std::uint8_t>(key_f1 + final_byte - 'A'));
            return true;
        }
        return false;
    }
    const sequence_parameters p = parse_parameters(d.pending + 2, d.length - 3);
    if (final_byte == '~') {
        // xterm's modifyOtherKeys form of Ctrl+Enter: ESC [ 27 ; 5 ; 13 ~
        if (p.count == 3 && p.value[0] == 27 && p.value[2] == 13) {
            key = character(char_line_feed);
            return true;
        }
        return p.count >= 1 && tilde_key(p.value[0], key);
    }
    if (final_byte == 'u') {
        // The CSI u form: ESC [ 13 ; 5 u is Ctrl+Enter.
        if (p.count == 2 && p.value[0] == 13 && p.value[1] == 5) {
            key = character(char_line_feed);
            return true;
        }
        return false;
    }
    // Modifiers (ESC [ 1 ; 5 C) leave the key itself as it is.
    return letter_key(final_byte, key);
}

// Bytes a UTF-8 character starting with lead takes in all; 0 when lead starts none.
std::size_t utf8_length(std::uint8_t lead) {
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

bool is_continuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }

// A byte that starts nothing pending: a key of its own, the start of a sequence, or dropped.
bool start(terminal_key_decoder& d, std::uint8_t byte, console_key& key) {
    if (byte == char_escape || utf8_length(byte) != 0) {
        d.pending[0] = byte;
        d.length = 1;
        return false;
    }
    if (byte >= 0x80) {
        return false;  // a stray UTF-8 byte
    }
    key = character(byte == byte_delete ? char_backspace : byte);
    return true;
}

}  // namespace

bool terminal_keys_feed(terminal_key_decoder& d, std::uint8_t byte, console_key& key) {
    if (d.length == 0) {
        return start(d, byte, key);
    }
    if (d.pending[0] != char_escape) {
        // Inside a UTF-8 character.
        if (!is_continuation(byte)) {
            d.length = 0;
            return start(d, byte, key);
        }
        d.pending[d.length++] = byte;
        const std::size_t total = utf8_length(d.pending[0]);
        if (d.length < total) {
            return false;
        }
        d.length = 0;
        if (total != 2) {
            return false;  // beyond U+00FF: not a single byte
        }
        const unsigned code = ((d.pending[0] & 0x1Fu) << 6) | (d.pending[1] & 0x3Fu);
        // Only U+00A0 to U+00FF have a Latin-1 byte; cut to 8 bits, U+010D would be Enter.
        if (code < 0xA0 || code > 0xFF) {
            return false;
        }
        key = character(static_cast<std::uint8_t>(code));
        return true;
    }
    if (d.length == 1) {
        if (byte == '[' || byte == 'O') {
            d.pending[d.length++] = byte;
            return false;
        }
        if (byte == char_escape) {
            key = character(char_escape);  // the first of two Esc presses
            return true;
        }
        d.length = 0;  // Alt with a character: not a key of ours
        return false;
    }
    if (d.pending[1] == 'O') {
        d.length = 0;
        return letter_key(byte, key);
    }
    // ESC [ ...: parameters and intermediates until a final byte from @ to ~.
    if (byte < 0x20 || byte > 0x7E) {
        d.length = 0;  // not a sequence we can read: drop it
        d.overlong = false;
        return false;
    }
    if (d.length == sizeof d.pending) {
        d.overlong = true;
    } else {
        d.pending[d.length++] = byte;
    }
    const bool linux_function_key = d.length == 3 && byte == '[';
    if (linux_function_key || byte < 0x40) {
        return false;
    }
    const bool found = !d.overlong && control_sequence_key(d, key);
    d.length = 0;
    d.overlong = false;
    return found;
}

bool terminal_keys_waiting(const terminal_key_decoder& d) { return d.length != 0; }

bool terminal_keys_flush(terminal_key_decoder& d, console_key& key) {
    const bool lone_escape = d.length == 1 && d.pending[0] == char_escape;
    d.length = 0;
    d.overlong = false;
    if (lone_escape) {
        key = character(char_escape);
    }
    return lone_escape;
}

bool stream_keys_feed(stream_key_decoder& d, std::uint8_t byte, console_key& key) {
    const bool after_cr = d.after_carriage_return;
    d.after_carriage_return = byte == '\r';
    if (byte == '\n' && after_cr) {
        return false;
    }
    if (byte == '\r' || byte == '\n') {
        key = character(char_enter);
    } else {
        key = character(byte == byte_delete ? char_backspace : byte);
    }
    return true;
}
