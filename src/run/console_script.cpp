#include "console_script.h"

#include <cstddef>
#include <utility>

namespace {

std::vector<console_key> script;
std::size_t next_key = 0;
bool script_interactive = false;
std::size_t script_columns = 0;
bool script_owned_alone = false;
std::string output;

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
    script_interactive = interactive;
    script_columns = 0;
    script_owned_alone = false;
    output.clear();
}

void console_script_set_console(std::size_t columns, bool owned_alone) {
    script_columns = columns;
    script_owned_alone = owned_alone;
}

std::size_t console_script_keys_read() { return next_key; }

const std::string& console_script_output() { return output; }

void console_open() {}

void console_close() {}

bool console_is_interactive() { return script_interactive; }

void console_write(std::string_view bytes) { output.append(bytes); }

bool console_next_key(console_key& key) {
    if (next_key >= script.size()) {
        return false;
    }
    key = script[next_key++];
    return true;
}

bool console_character_waiting() {
    return next_key < script.size() && !script[next_key].extended && script[next_key].code >= 32;
}

std::size_t console_columns() { return script_columns; }

bool console_owned_alone() { return script_owned_alone; }
