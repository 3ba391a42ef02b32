// The console: raw bytes out, keys in. On a terminal or Windows console the keys are real
// key presses; when input is a pipe or a file its bytes are the keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// One key: a character (code 0 to 255), or a key without a character, given by its PC
// extended key code.
struct console_key {
    bool extended = false;
    std::uint8_t code = 0;
};

// PC extended key codes.
constexpr std::uint8_t key_f1 = 59;  // F1 to F10 are 59 to 68
constexpr std::uint8_t key_home = 71;
constexpr std::uint8_t key_up = 72;
constexpr std::uint8_t key_page_up = 73;
constexpr std::uint8_t key_left = 75;
constexpr std::uint8_t key_right = 77;
constexpr std::uint8_t key_end = 79;
constexpr std::uint8_t key_down = 80;
constexpr std::uint8_t key_page_down = 81;
constexpr std::uint8_t key_insert = 82;
constexpr std::uint8_t key_delete = 83;
constexpr std::uint8_t key_f11 = 133;
constexpr std::uint8_t key_f12 = 134;

// Character codes the editor and the prompts care about.
constexpr std::uint8_t char_backspace = 8;
constexpr std::uint8_t char_tab = 9;
constexpr std::uint8_t char_line_feed = 10;  // Ctrl+Enter
constexpr std::uint8_t char_enter = 13;
constexpr std::uint8_t char_escape = 27;

// Puts the null device on each standard stream that is closed (input for reading, output
// and errors for writing), so that no file opened later can take a standard stream's
// number and be read as keys or written with the dialogue. Called before anything else
// opens a file. False when that could not be done: the process then ends at once.
bool console_fill_closed_streams();
// Prepares the console (raw keys on a terminal) and arranges that it is restored on
// every way out of the process, signals included.
void console_open();
// Gives the console back as it was found. Safe to call more than once.
void console_close();
// From the user's answer until the write's report is out, an end signal (interrupt,
// termination, hang-up; on Windows Ctrl+C, Ctrl+Break, the window closed) is only noted:
// the write, its flush and its close finish and are reported, so that the user learns
// whether the file changed. Elsewhere an end signal ends the run at once. A signal that the
// starting process ignores stays ignored.
void console_hold_end_signals();
// Ends the hold (harmless when none was begun). True when an end signal came during it:
// the run then ends at once, without the Enter prompt. Where the signal's handler runs on a
// thread of its own (Windows), that handler ends the process here, and this never returns.
bool console_release_end_signals();
// True when input comes from a terminal or console, false for a pipe or a file.
bool console_is_interactive();
// Writes the bytes as they are, at once. Output that cannot take them now (a stream left
// non-blocking by the caller, a slow reader) is waited for; only a closed reader or an error
// drops the rest.
void console_write(std::string_view bytes);
// Blocks until the next key. False once input has ended (pipe or file at its end, or the
// terminal gone): the run then ends with nothing further written. A run put in the
// background whose read the system refuses waits until it is in the foreground again.
bool console_next_key(console_key& key);
// True when the next key is a character (code 32 and up) that is already at hand, as
// during a paste; never waits. False when no such key is known to be there.
bool console_character_waiting();
// The size in character cells of the console that output goes to, as it is now: a
// terminal's window, or a Windows console's screen buffer, whose width is where its lines
// wrap. 0 x 0 when output is not a console. Everything that draws asks here, each time it
// draws, so that a resize is seen.
struct console_size {
    std::size_t columns = 0;
    std::size_t rows = 0;
};
console_size console_measure();
// True when no other process shares the console (a window opened for the tool alone, as
// by a double-click), so that it closes when the run ends.
bool console_owned_alone();
// Called from console_next_key, while it waits, when the process has been stopped (Ctrl+Z)
// and continued: the shell has written over the screen meanwhile. nullptr for nothing.
void console_set_resume_action(void (*action)());
