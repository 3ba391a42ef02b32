// Drawing on a terminal with xterm control sequences. Every redraw is built in one buffer
// and written at once, so the terminal never shows half a line.
//
// A terminal cannot be asked where its cursor is, and rows that scrolled off the top cannot
// be reached again. So the line is drawn in an area whose first row stays on the screen: the
// whole line when it fits, else the window of as many rows as the screen has, around the
// cursor. The cursor's row within that area is all that needs remembering.
//
// A terminal that takes no control sequences (TERM dumb, emacs or cons25, as other line
// editors treat them) gets the characters as typed, a Backspace at the end as BS, and any
// other change on a one-row line as a carriage return and the line written again.
#include "line_display.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "console.h"

namespace {

// What the display holds between drawings of one line.
struct terminal_line {
    bool plain = false;  // the terminal takes no control sequences
    std::size_t columns = 80;
    std::size_t rows = 24;
    std::size_t top_row = 0;       // row of the line shown first in the area
    std::size_t cursor_row = 0;    // row of the terminal's cursor, counted from the area's first
    std::string drawn;             // the line as the screen shows it
    std::size_t drawn_cursor = 0;  // and where its cursor was put
    std::string wanted;            // the line as last asked for; a plain terminal may lag
    std::size_t wanted_cursor = 0;
};

terminal_line the_line;

bool takes_no_control_sequences() {
    const char* term = std::getenv("TERM");
    if (term == nullptr) {
        return false;
    }
    for (const char* name : {"dumb", "emacs", "cons25"}) {
        if (std::strcmp(term, name) == 0) {
            return true;
        }
    }
    return false;
}

// Takes the terminal's size as it is now; true when it changed. A terminal that rewraps its
// lines on a resize (most do) keeps the cursor at its place in the line, so the cursor's row
// is found again from its index at the new width, and the area starts as far above it as
// the screen reaches.
bool take_size() {
    const console_size size = console_measure();
    const std::size_t columns = size.columns > 0 ? size.columns : 80;
    const std::size_t rows = size.rows > 0 ? size.rows : 24;
    if (columns == the_line.columns && rows == the_line.rows) {
        return false;
    }
    the_line.columns = columns;
    the_line.rows = rows;
    const std::size_t row = the_line.drawn_cursor / columns;
    the_line.cursor_row = std::min(row, rows - 1);
    the_line.top_row = row - the_line.cursor_row;
    return true;
}

void append_number(std::string& out, std::size_t value) { out += std::to_string(value); }

void append_move(std::string& out, std::size_t count, char direction) {
    if (count > 0) {
        out += "\x1b[";
        append_number(out, count);
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

void append_text(std::string& out, std::string_view text) {
    for (const char c : text) {
        append_character(out, static_cast<unsigned char>(c));
    }
}

// The first row of the area for a line whose end lies on end_row and whose cursor lies on
// row: the area moves only as far as it must to hold the cursor, and is kept full.
std::size_t area_top(std::size_t end_row, std::size_t row) {
    if (end_row < the_line.rows) {
        return 0;
    }
    std::size_t top = the_line.top_row;
    if (row < top) {
        top = row;
    } else if (row >= top + the_line.rows) {
        top = row + 1 - the_line.rows;
    }
    return std::min(top, end_row + 1 - the_line.rows);
}

// Draws text from the area's first row on; out already leads to that row's first column.
void draw_area(std::string& out, std::string_view text, std::size_t cursor) {
    const std::size_t end_row = text.size() / the_line.columns;
    const std::size_t row = cursor / the_line.columns;
    the_line.top_row = area_top(end_row, row);
    const std::size_t from = the_line.top_row * the_line.columns;
    const std::size_t to =
        std::min(text.size(), (the_line.top_row + the_line.rows) * the_line.columns);
    append_text(out, text.substr(from, to - from));
    std::size_t written_row = (to - from) / the_line.columns;
    if (to == text.size()) {
        // A full last row leaves the terminal waiting to wrap; moving on makes the row below
        // the place of the end of the line, whatever the terminal does at the margin.
        if (!text.empty() && text.size() % the_line.columns == 0) {
            out += "\r\n";
        }
    } else {
        written_row =
            the_line.rows - 1;  // the area's last row, full: the terminal waits to wrap there
    }
    the_line.cursor_row = row - the_line.top_row;
    append_move(out, written_row - the_line.cursor_row, 'A');
    out += '\r';
    append_move(out, cursor % the_line.columns, 'C');
}

// The plain terminal: what can be shown without moving the cursor up. Characters added at
// the end are written; one taken from the end goes with BS, blank, BS; a line that fits in
// a row is written again after a carriage return, then once more up to the cursor to put
// the cursor there. A longer line is left as it is on the screen until the answer ends.
void show_plain(std::string_view text, std::size_t cursor) {
    const std::string& drawn = the_line.drawn;
    const bool at_ends = cursor == text.size() && the_line.drawn_cursor == drawn.size();
    std::string out;
    if (at_ends && text.size() > drawn.size() && text.starts_with(drawn)) {
        append_text(out, text.substr(drawn.size()));
    } else if (at_ends && text.size() + 1 == drawn.size() && drawn.starts_with(text) &&
               drawn.size() % the_line.columns != 0) {
        out = "\b \b";
    } else if (std::max(text.size(), drawn.size()) < the_line.columns) {
        out += '\r';
        append_text(out, text);
        if (drawn.size() > text.size()) {
            out.append(drawn.size() - text.size(), ' ');
        }
        out += '\r';
        append_text(out, text.substr(0, cursor));
    } else {
        return;
    }
    console_write(out);
    the_line.drawn.assign(text);
    the_line.drawn_cursor = cursor;
}

}  // namespace

bool line_display_begin() {
    if (isatty(STDOUT_FILENO) == 0) {
        return false;
    }
    the_line = terminal_line{};
    the_line.plain = takes_no_control_sequences();
    take_size();
    if (!the_line.plain) {
        console_write("\x1b[?25h");
    }
    return true;
}

std::size_t line_display_width() {
    const std::size_t columns = console_measure().columns;
    return columns > 0 ? columns : 80;
}

// The dialogue ends every line before it asks, so the answer starts in the first column.
void line_display_show(std::string_view text, std::size_t cursor) {
    const bool resized = take_size();
    the_line.wanted.assign(text);
    the_line.wanted_cursor = cursor;
    if (the_line.plain) {
        show_plain(text, cursor);
        return;
    }
    std::string out;
    // Characters added at the end with the cursor behind them are written alone: the
    // terminal scrolls the area as its window would move.
    const bool appended = !resized && cursor == text.size() &&
                          the_line.drawn_cursor == the_line.drawn.size() &&
                          text.size() > the_line.drawn.size() && text.starts_with(the_line.drawn);
    if (appended) {
        append_text(out, text.substr(the_line.drawn.size()));
        if (text.size() % the_line.columns == 0) {
            out += "\r\n";
        }
        const std::size_t end_row = text.size() / the_line.columns;
        the_line.top_row = area_top(end_row, end_row);
        the_line.cursor_row = end_row - the_line.top_row;
        out += '\r';
        append_move(out, cursor % the_line.columns, 'C');
    } else {
        // From the area's first row down, whatever the line held before is cleared.
        append_move(out, the_line.cursor_row, 'A');
        out += "\r\x1b[J";
        draw_area(out, text, cursor);
    }
    console_write(out);
    the_line.drawn.assign(text);
    the_line.drawn_cursor = cursor;
}

// After the process was stopped and continued the shell has left the cursor at the start of
// a fresh row; the area starts there now.
void line_display_redraw() {
    take_size();
    if (the_line.plain) {
        the_line.drawn.clear();
        the_line.drawn_cursor = 0;
        show_plain(the_line.wanted, the_line.wanted_cursor);
        return;
    }
    std::string out = "\r\x1b[J";
    draw_area(out, the_line.drawn, the_line.drawn_cursor);
    console_write(out);
}

void line_display_beep() { console_write("\a"); }

// A terminal cannot be asked whether its cursor was visible; it stays shown. A plain
// terminal that could not be shown the answer's last state gets it on a row of its own.
void line_display_end() {
    if (the_line.plain && the_line.drawn != the_line.wanted) {
        std::string out = "\r\n";
        append_text(out, the_line.wanted);
        console_write(out);
    }
}
