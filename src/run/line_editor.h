// The line editor behind typed answers: the line, the cursor and what each key does to
// them, and read_answer, which runs it on the console's keys. Drawing is apart
// (line_display), so that the editing is tested from keys alone.
#pragma once

#include <cstddef>
#include <string>

#include "console.h"

struct edited_line {
    std::string text;        // single bytes, codes 32 to 255
    std::size_t cursor = 0;  // 0 to text.size()
    std::size_t width = 80;  // console columns, the step of Up and Down
};

enum class edit_effect {
    ignored,   // nothing changed
    changed,   // the text changed (and perhaps the cursor)
    moved,     // only the cursor moved
    beep,      // Del at the end of the line
    finished,  // Enter or Ctrl+Enter
};

edit_effect edit_line(edited_line& line, const console_key& key);

// Reads one line with the line editor and gives its answer field. False when input ended
// before Enter.
bool read_answer(std::string& field);
