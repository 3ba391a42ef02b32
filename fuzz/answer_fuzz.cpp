// Arbitrary bytes through everything a typed answer passes: the key decoders of terminals
// and pipes, the line editor, read_answer, field cutting, number reading and rounding.
// Number reading is checked against the C library's strtod in the "C" locale.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "answer.h"
#include "console_script.h"
#include "line_editor.h"
#include "terminal_keys.h"

namespace {

// A broken promise is a crash, which libFuzzer reports with the input that caused it.
void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "answer_fuzz: %s\n", what);
        std::abort();
    }
}

std::vector<console_key> terminal_keys(const std::uint8_t* data, std::size_t size) {
    std::vector<console_key> keys;
    terminal_key_decoder decoder;
    console_key key;
    for (std::size_t i = 0; i < size; ++i) {
        if (terminal_keys_feed(decoder, data[i], key)) {
            keys.push_back(key);
        }
    }
    while (terminal_keys_waiting(decoder)) {
        if (terminal_keys_flush(decoder, key)) {
            keys.push_back(key);
        }
    }
    return keys;
}

std::vector<console_key> stream_keys(const std::uint8_t* data, std::size_t size) {
    std::vector<console_key> keys;
    stream_key_decoder decoder;
    console_key key;
    for (std::size_t i = 0; i < size; ++i) {
        if (stream_keys_feed(decoder, data[i], key)) {
            keys.push_back(key);
        }
    }
    return keys;
}

// Edits a line with keys up to Enter, checking the editor's promises on the way. Gives the
// line and whether Enter came.
bool edit(const std::vector<console_key>& keys, std::size_t width, std::string& text) {
    edited_line line;
    line.width = width;
    for (const console_key& key : keys) {
        const std::string before = line.text;
        const std::size_t cursor_before = line.cursor;
        const edit_effect effect = edit_line(line, key);
        check(line.cursor <= line.text.size(), "cursor beyond the line");
        for (const char c : line.text) {
            check(static_cast<unsigned char>(c) >= 32, "control character in the line");
        }
        if (effect == edit_effect::finished) {
            check(line.text == before, "Enter changed the line");
            text = line.text;
            return true;
        }
        if (effect != edit_effect::changed) {
            check(line.text == before, "the line changed unannounced");
        }
        if (effect == edit_effect::ignored || effect == edit_effect::beep) {
            check(line.cursor == cursor_before, "the cursor moved unannounced");
        }
    }
    text = line.text;
    return false;
}

// read_answer over a scripted console must give the field of the line the editor makes,
// and echo it as a transcript ending in CR LF.
void check_read_answer(const std::vector<console_key>& keys) {
    std::string line;
    const bool entered = edit(keys, 80, line);
    console_script_start(keys, false);
    std::string field;
    check(read_answer(field) == entered, "read_answer and the editor disagree on Enter");
    if (entered) {
        check(field == cut_field(line), "read_answer's field");
        const std::string& transcript = console_script_output();
        check(transcript.size() >= 2 && transcript.compare(transcript.size() - 2, 2, "\r\n") == 0,
              "transcript without CR LF");
    }
}

void check_cut_field(std::string_view text) {
    const std::string field = cut_field(text);
    check(field.size() <= answer_field_limit, "field too long");
    check(text.find(field) != std::string_view::npos, "field is not part of the line");
}

// The reference: strtod in the C locale on the text up to its first zero byte, D read as E.
double reference_number(std::string_view text) {
    std::string copy(text.substr(0, text.find('\0')));
    for (char& c : copy) {
        if (c == 'D' || c == 'd') {
            c = 'E';
        }
    }
    return std::strtod(copy.c_str(), nullptr);
}

void check_choice(double value) {
    const std::int64_t choice = to_choice(value);
    constexpr double limit = 9223372036854775808.0;
    if (!(value >= -limit && value < limit)) {
        check(choice == std::numeric_limits<std::int64_t>::min(), "out of range");
        return;
    }
    // The process runs in the default rounding mode: to nearest, ties to even.
    check(choice == static_cast<std::int64_t>(std::nearbyint(value)), "rounding");
}

void check_number(std::string_view text) {
    const double number = to_number(text);
    if (text.find('&') == std::string_view::npos) {
        const double expected = reference_number(text);
        if (std::isnan(expected)) {
            check(std::isnan(number), "NaN expected");
        } else {
            check(std::memcmp(&number, &expected, sizeof number) == 0, "differs from strtod");
        }
    }
    check_choice(number);
}

// Pieces of numbers, so that short inputs spell hexadecimal fractions, exponents at the
// edges of a double, signs and the words far more often than random bytes would.
const char* const number_pieces[] = {
    "0",
    "1",
    "5",
    "9",
    "f",
    "A",
    ".",
    "e",
    "E",
    "d",
    "D",
    "p",
    "P",
    "x",
    "0x",
    "0X",
    "+",
    "-",
    " ",
    "\t",
    "\n",
    "&",
    "inf",
    "INFINITY",
    "nan",
    "(",
    ")",
    "_",
    "308",
    "309",
    "324",
    "1074",
    "1075",
    "1022",
    "99999999999999999999",
    "4940656458412465441765687928682213723651",
    "2.47",
};

std::string spelled_number(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t count = sizeof number_pieces / sizeof number_pieces[0];
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += number_pieces[data[i] % count];
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    check_cut_field(text);
    check_number(text);
    check_number(cut_field(text));
    check_number(spelled_number(data, size));
    if (size >= sizeof(double)) {
        double value = 0;
        std::memcpy(&value, data, sizeof value);
        check_choice(value);
    }

    const std::size_t width = size > 0 ? 1 + data[0] % 16 : 80;
    std::string line;
    const std::vector<console_key> from_terminal = terminal_keys(data, size);
    edit(from_terminal, width, line);
    check_read_answer(from_terminal);
    check_read_answer(stream_keys(data, size));
    return 0;
}
