// Drawing on a terminal with xterm control sequences. Every redraw is built in one buffer
// and written at once, so the terminal never shows half a line.
#include "line_display.h"

#include <string>

#include <sys/ioctl.h>
#include <unistd.h>

#include "console.h"

namespace {

std::size_t columns = 80;
std::size_t cursor_row = 0;    // row of the cursor, counted from the line's first row
std::string drawn;             // the line as last drawn
std::size_t drawn_cursor = 0;  // and where its cursor was put

void append_number(std::string& out, std::size_t value) { out += std::to_string(value); }

void append_move(std::string& out, std::size_t rows, char direction) {
    if (rows > 0) {
        out += "\x1b[";
        append_number(out, rows);
        out += direction;
    }
}

// The line is single-byte Latin-1 text; the terminal speaks UTF-8.
void append_character(std::string& out, unsigned char c) {
    if (c >= 160) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c >= 32 && c < 127) {
        out += static_cast<char>(c);
    } else {
        out += '?';
    }
}

}  // namespace

bool line_display_begin() {
    if (isatty(STDOUT_FILENO) == 0) {
        return false;
    }
    winsize size{};
    columns = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
    cursor_row = 0;
    drawn.clear();
    drawn_cursor = 0;
    console_write("\x1b[?25h");
    return true;
}

std::size_t line_display_width() { return columns; }

// The dialogue ends every line before it asks, so the answer starts in the first column.
void line_display_show(std::string_view text, std::size_t cursor) {
    // A paste is a burst of characters added at the end of the line; drawing the whole line
    // for each of them would cost the square of its length, terabytes for a million
    // characters. While the next character is already at hand, the redraw for it follows at
    // once, so this one is left out, and characters only added at the end are written alone.
    const bool at_end = cursor == text.size();
    if (at_end && text.size() > drawn.size() && console_character_waiting()) {
        return;
    }
    const bool appended = at_end && drawn_cursor == drawn.size() && text.starts_with(drawn);
    const std::size_t from = appended ? drawn.size() : 0;
    std::string out;
    out.reserve((text.size() - from) * 2 + 32);
    if (!appended) {
        append_move(out, cursor_row, 'A');
        out += "\r\x1b[J";
    }
    for (const char c : text.substr(from)) {
        append_character(out, static_cast<unsigned char>(c));
    }
    // A full last row leaves the terminal waiting to wrap; moving on makes the row below
    // the place of the end of the line, whatever the terminal does at the margin.
    if (text.size() > from && text.size() % columns == 0) {
        out += "\r\n";
    }
    const std::size_t end_row = text.size() / columns;
    cursor_row = cursor / columns;
    append_move(out, end_row - cursor_row, 'A');
    out += '\r';
    append_move(out, cursor % columns, 'C');
    console_write(out);
    drawn.assign(text);
    drawn_cursor = cursor;
}

void line_display_beep() { console_write("\a"); }

// A terminal cannot be asked whether its cursor was visible; it stays shown.
void line_display_end() {}
