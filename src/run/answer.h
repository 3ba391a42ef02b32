// Typed answers as text: the first field of a typed line, the number at the start of a
// text and its rounding to a whole choice. No console here: the line itself comes from
// read_answer (line_editor.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The answer field is never longer than this.
constexpr std::size_t answer_field_limit = 4096;

// The first field of a typed line: leading blanks and tabs skipped, then a double-quoted
// text or everything up to the first comma.
std::string cut_field(std::string_view line);

// The number at the start of text as a double; 0 when there is none. Reads the same in
// every locale.
double to_number(std::string_view text);

// Rounds to the nearest whole number, ties to even; the smallest 64-bit integer for a
// value that is not a number, infinite or out of range.
std::int64_t to_choice(double value);
