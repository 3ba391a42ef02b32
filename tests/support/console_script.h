// A console for in-process tests: its keys come from a script, and everything written to
// it is collected. In interactive mode the line editor draws on a scripted line display,
// which keeps what it was last asked to show.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "console.h"

// Character keys, one per byte.
std::vector<console_key> script_keys(std::string_view bytes);
// An extended key (its PC code).
console_key script_extended_key(std::uint8_t code);

// Starts a fresh script: these keys, then the end of input. Clears the collected output and
// the scripted display. An interactive script stands for a console of the given width (0:
// output is no console), shared with other processes unless owned_alone.
void console_script_start(std::vector<console_key> keys, bool interactive = false);
void console_script_set_console(std::size_t columns, bool owned_alone);
// How many keys the run has taken since the script started.
std::size_t console_script_keys_read();
// Everything written since the script started.
const std::string& console_script_output();
// The process is stopped and continued just before key number at (0-based) is taken.
void console_script_resume_before(std::size_t at);
// An end signal comes as soon as the run holds end signals (console_hold_end_signals).
void console_script_end_signal_when_held();
// How much of the output had been written when the run began to hold end signals;
// std::string::npos when it never did.
std::size_t console_script_held_at();

// The scripted line display, 80 columns wide.
struct script_display {
    bool open = false;  // between line_display_begin and line_display_end
    std::string text;   // the line last shown, and its cursor
    std::size_t cursor = 0;
    int shows = 0;  // drawings of a changed line or cursor
    int redraws = 0;
    int beeps = 0;
};
const script_display& console_script_display();
