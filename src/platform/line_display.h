// Shows the line being edited on an interactive console: the line redrawn after each
// change, wrapped at the console's width, the cursor placed within it.
#pragma once

#include <cstddef>
#include <string_view>

// Starts a new line at the cursor and makes the cursor visible. False when output is not
// a console that can be drawn on; nothing is drawn then.
bool line_display_begin();
// Columns of the console, at least 1.
std::size_t line_display_width();
// Draws text in place of what was shown before and puts the cursor before character
// cursor (cursor == text.size() is behind the last one). Where the line is taller than the
// console, the rows around the cursor are shown.
void line_display_show(std::string_view text, std::size_t cursor);
// Draws the line last shown anew at the cursor, as after others wrote over the screen.
void line_display_redraw();
// The sound for a key that cannot be applied.
void line_display_beep();
// Ends the line. A Windows console gets its cursor's former visibility back; a terminal
// cannot be asked for it, so there the cursor stays shown.
void line_display_end();
