// Drawing in the Windows console's screen buffer: characters are put at their cells, the
// buffer is scrolled when the line runs past its last row, the cursor is placed directly.
#include "line_display.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "console.h"

namespace {

// What the display holds between drawings of one line.
struct console_line {
    HANDLE output = INVALID_HANDLE_VALUE;
    CONSOLE_CURSOR_INFO former_cursor{};
    SHORT columns = 80;
    SHORT rows = 25;
    // Cell of the line's first character. Its row goes negative when the line has scrolled
    // further up than the buffer reaches.
    std::ptrdiff_t start_x = 0;
    std::ptrdiff_t start_y = 0;
    std::string drawn;  // the line as last drawn
    std::size_t drawn_cursor = 0;
};

console_line the_line;

COORD cell_of(std::size_t index) {
    const std::ptrdiff_t linear = the_line.start_x + static_cast<std::ptrdiff_t>(index);
    return COORD{static_cast<SHORT>(linear % the_line.columns),
                 static_cast<SHORT>(the_line.start_y + linear / the_line.columns)};
}

// Scrolls the buffer up so that the cell of index lies on its last row at the latest.
void make_room_for(std::size_t index) {
    const std::ptrdiff_t row =
        the_line.start_y +
        (the_line.start_x + static_cast<std::ptrdiff_t>(index)) / the_line.columns;
    const std::ptrdiff_t excess = row - (the_line.rows - 1);
    if (excess <= 0) {
        return;
    }
    const std::ptrdiff_t freed = std::min<std::ptrdiff_t>(excess, the_line.rows);
    if (freed < the_line.rows) {
        // The rows below the first excess ones move to the top. Wine refuses a destination
        // above the buffer, so the source is cut instead.
        const SMALL_RECT kept{0, static_cast<SHORT>(freed),
                              static_cast<SHORT>(the_line.columns - 1),
                              static_cast<SHORT>(the_line.rows - 1)};
        CHAR_INFO fill{};
        fill.Char.AsciiChar = ' ';
        CONSOLE_SCREEN_BUFFER_INFO info{};
        fill.Attributes =
            GetConsoleScreenBufferInfo(the_line.output, &info) != 0 ? info.wAttributes : 7;
        if (ScrollConsoleScreenBufferA(the_line.output, &kept, nullptr, COORD{0, 0}, &fill) == 0) {
            // Line feeds on the last row scroll any console.
            SetConsoleCursorPosition(the_line.output,
                                     COORD{0, static_cast<SHORT>(the_line.rows - 1)});
            console_write(std::string(static_cast<std::size_t>(freed), '\n'));
        }
    }
    // Wine leaves part of the freed rows as they were; blank them outright.
    DWORD written = 0;
    FillConsoleOutputCharacterA(the_line.output, ' ', static_cast<DWORD>(freed * the_line.columns),
                                COORD{0, static_cast<SHORT>(the_line.rows - freed)}, &written);
    the_line.start_y -= excess;
}

// Writes count cells from index on, text or blanks, skipping rows above the buffer.
void put_cells(const char* text, std::size_t index, std::size_t count) {
    // Cells of the line before this index lie on rows above the buffer.
    const std::ptrdiff_t hidden = -the_line.start_y * the_line.columns - the_line.start_x;
    if (hidden > static_cast<std::ptrdiff_t>(index)) {
        const std::size_t skipped = std::min(count, static_cast<std::size_t>(hidden) - index);
        index += skipped;
        count -= skipped;
        if (text != nullptr) {
            text += skipped;
        }
    }
    if (count == 0) {
        return;
    }
    DWORD written = 0;
    const auto length = static_cast<DWORD>(count);
    if (text != nullptr) {
        WriteConsoleOutputCharacterA(the_line.output, text, length, cell_of(index), &written);
    } else {
        FillConsoleOutputCharacterA(the_line.output, ' ', length, cell_of(index), &written);
    }
}

// Takes the buffer's width as it is now, and where the line is after a change. A console that
// rewraps its lines (Windows 10's) keeps the cursor at its place in the line, so the line's
// first cell is found again from the cursor, and the cells the line held from there are
// blanked. One that cuts or pads its rows (Wine's, older Windows') leaves the cursor on its
// row, and the line on the rows it held, which are blanked whole. Either way the line is then
// drawn anew at the new width.
void take_width() {
    const console_size size = console_measure();
    if (size.columns == 0 || static_cast<SHORT>(size.columns) == the_line.columns) {
        return;
    }
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(the_line.output, &info) == 0) {
        return;
    }
    const std::ptrdiff_t former_columns = the_line.columns;
    const auto former_row = [&](std::size_t index) {
        return the_line.start_y +
               (the_line.start_x + static_cast<std::ptrdiff_t>(index)) / former_columns;
    };
    const std::ptrdiff_t former_cursor_row = former_row(the_line.drawn_cursor);
    const std::ptrdiff_t former_last_row =
        former_row(std::max(the_line.drawn.size(), the_line.drawn_cursor));
    the_line.columns = static_cast<SHORT>(size.columns);
    the_line.rows = static_cast<SHORT>(size.rows);
    std::size_t held = the_line.drawn.size();
    if (info.dwCursorPosition.Y == former_cursor_row) {
        the_line.start_x = std::min<std::ptrdiff_t>(the_line.start_x, the_line.columns - 1);
        held = static_cast<std::size_t>(
            (former_last_row - the_line.start_y + 1) * the_line.columns - the_line.start_x);
    } else {
        const std::ptrdiff_t start =
            static_cast<std::ptrdiff_t>(info.dwCursorPosition.Y) * the_line.columns +
            info.dwCursorPosition.X - static_cast<std::ptrdiff_t>(the_line.drawn_cursor);
        // Floor division: the start may lie on a row above the buffer.
        the_line.start_y = start >= 0 ? start / the_line.columns
                                      : -((-start + the_line.columns - 1) / the_line.columns);
        the_line.start_x = start - the_line.start_y * the_line.columns;
    }
    put_cells(nullptr, 0, held);
    the_line.drawn.clear();
}

}  // namespace

bool line_display_begin() {
    the_line.output = GetStdHandle(STD_OUTPUT_HANDLE);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (the_line.output == INVALID_HANDLE_VALUE ||
        GetConsoleScreenBufferInfo(the_line.output, &info) == 0) {
        return false;
    }
    const console_size size = console_measure();
    the_line.columns = static_cast<SHORT>(std::max<std::size_t>(size.columns, 1));
    the_line.rows = static_cast<SHORT>(std::max<std::size_t>(size.rows, 1));
    the_line.start_x = info.dwCursorPosition.X;
    the_line.start_y = info.dwCursorPosition.Y;
    the_line.drawn.clear();
    the_line.drawn_cursor = 0;
    GetConsoleCursorInfo(the_line.output, &the_line.former_cursor);
    CONSOLE_CURSOR_INFO visible = the_line.former_cursor;
    if (visible.dwSize == 0) {
        visible.dwSize = 25;
    }
    visible.bVisible = TRUE;
    SetConsoleCursorInfo(the_line.output, &visible);
    return true;
}

std::size_t line_display_width() { return std::max<std::size_t>(console_measure().columns, 1); }

void line_display_show(std::string_view text, std::size_t cursor) {
    take_width();
    make_room_for(std::max(text.size(), cursor));
    // Cells before the first change still hold their characters (scrolling moves them
    // along); only the rest of the line is written, and what is left of the former one
    // blanked.
    const std::size_t same = static_cast<std::size_t>(
        std::mismatch(text.begin(), text.end(), the_line.drawn.begin(), the_line.drawn.end())
            .first -
        text.begin());
    put_cells(text.data() + same, same, text.size() - same);
    if (the_line.drawn.size() > text.size()) {
        put_cells(nullptr, text.size(), the_line.drawn.size() - text.size());
    }
    the_line.drawn.assign(text);
    the_line.drawn_cursor = cursor;
    const COORD place = cell_of(cursor);
    if (place.Y >= 0) {
        SetConsoleCursorPosition(the_line.output, place);
    }
}

// A Windows console never stops the process, so nothing is drawn over meanwhile.
void line_display_redraw() {}

void line_display_beep() { Beep(1000, 250); }

void line_display_end() { SetConsoleCursorInfo(the_line.output, &the_line.former_cursor); }
