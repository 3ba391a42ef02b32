#include "console_script.h"

#include <cstddef>
#include <utility>

#include "line_display.h"

namespace {

std::vector<console_key> script;
std::size_t next_key = 0;
std::size_t resume_at = 0;
bool resume_pending = false;
void (*resume_action)() = nullptr;
bool script_interactive = false;
std::size_t script_columns = 0;
bool script_owned_alone = false;
std::string output;
script_display display;
bool end_signal_armed = false;
bool end_signal_noted = false;
std::size_t held_at = std::string::npos;

}  // namespace

std::vector<console_key> script_keys(std::string_view bytes) {
    std::vector<console_key> keys;
    for (const char c : bytes) {
        keys.push_back({false, static_cast<std::uint8_t>(c)});
    }
    return keys;
}

console_key script_extended_key(std::uint8_t code) { return {true, code}; }

void console_script_start(std::vector<console_key> keys, bool interactive) {
    script = std::move(keys);
    next_key = 0;
    resume_pending = false;
    script_interactive = interactive;
    script_columns = 0;
    script_owned_alone = false;
    output.clear();
    display = script_display{};
    end_signal_armed = false;
    end_signal_noted = false;
    held_at = std::string::npos;
}

void console_script_set_console(std::size_t columns, bool owned_alone) {
    script_columns = columns;
    script_owned_alone = owned_alone;
}

std::size_t console_script_keys_read() { return next_key; }

const std::string& console_script_output() { return output; }

void console_script_resume_before(std::size_t at) {
    resume_at = at;
    resume_pending = true;
}

const script_display& console_script_display() { return display; }

void console_script_end_signal_when_held() { end_signal_armed = true; }

std::size_t console_script_held_at() { return held_at; }

void console_hold_end_signals() {
    held_at = output.size();
    end_signal_noted = end_signal_armed;
}

bool console_release_end_signals() {
    const bool noted = end_signal_noted;
    end_signal_noted = false;
    return noted;
}

void console_open() {}

void console_close() {}

bool console_is_interactive() { return script_interactive; }

void console_write(std::string_view bytes) { output.append(bytes); }

bool console_next_key(console_key& key) {
    if (resume_pending && next_key == resume_at) {
        resume_pending = false;
        if (resume_action != nullptr) {
            resume_action();
        }
    }
    if (next_key >= script.size()) {
        return false;
    }
    key = script[next_key++];
    return true;
}

bool console_character_waiting() {
    if (resume_pending && next_key == resume_at) {
        return false;  // the stop comes between two keys: the wait for the next one sees it
    }
    return next_key < script.size() && !script[next_key].extended && script[next_key].code >= 32;
}

console_size console_measure() {
    return {script_columns, script_columns == 0 ? std::size_t{0} : std::size_t{24}};
}

bool console_owned_alone() { return script_owned_alone; }

void console_set_resume_action(void (*action)()) { resume_action = action; }

bool line_display_begin() {
    display.open = true;
    return true;
}

std::size_t line_display_width() { return 80; }

void line_display_show(std::string_view text, std::size_t cursor) {
    display.text.assign(text);
    display.cursor = cursor;
    ++display.shows;
}

void line_display_redraw() { ++display.redraws; }

void line_display_beep() { ++display.beeps; }

void line_display_end() { display.open = false; }
