// What the run says and the keys it waits for: raw text on the console, single keys and
// the Enter prompt.
#pragma once

#include <string>
#include <string_view>

void print_text(std::string_view text);
void print_line(std::string_view text);  // the text, then carriage return and line feed
void print_empty_line();

// The text of the next key: one character, or the byte 255 and the PC extended key code.
// Blocks until a key comes; false once input has ended.
bool read_key(std::string& text);
// Reads keys until Enter, showing nothing. False when input ended first.
bool wait_for_enter_silently();
// Prints the Enter prompt and waits for Enter. False when input ended first.
bool wait_for_enter();
