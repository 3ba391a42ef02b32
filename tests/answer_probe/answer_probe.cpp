// Test-only program: reads one typed answer on the real console and prints what the run
// would make of it, so that end-to-end tests can type into a terminal and check the result.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>

#include "answer.h"
#include "console.h"
#include "line_editor.h"

namespace {

// Bytes outside printable ASCII as <hex>, so that the report reads the same on any terminal.
std::string visible(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 32 && byte < 127) {
            out += c;
        } else {
            out += '<';
            out += digits[byte >> 4];
            out += digits[byte & 15];
            out += '>';
        }
    }
    return out;
}

std::string shortest(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

}  // namespace

// The report goes to the console, and also into the file named by the first argument, where
// a test reads it whole however narrow the console is.
int main(int argc, char** argv) {
    console_open();
    // Tells the test that the console is set up and keys may come.
    console_write("answer?\r\n");
    std::string field;
    std::string report = "input ended";
    if (read_answer(field)) {
        const double number = to_number(field);
        report = "field=[" + visible(field) + "] number=" + shortest(number) +
                 " choice=" + std::to_string(to_choice(number));
    }
    console_write(report + "\r\n");
    if (argc > 1) {
        if (std::FILE* file = std::fopen(argv[1], "wb")) {
            std::fputs((report + "\n").c_str(), file);
            std::fclose(file);
        }
    }
    console_close();
    return 0;
}
