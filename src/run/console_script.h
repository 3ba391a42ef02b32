// A console for in-process tests: its keys come from a script, and everything written to
// it is collected.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "console.h"

// Character keys, one per byte.
std::vector<console_key> script_keys(std::string_view bytes);
// An extended key (its PC code).
console_key script_extended_key(std::uint8_t code);

// Starts a fresh script: these keys, then the end of input. Clears the collected output.
// An interactive script stands for a console of the given width (0: output is no console),
// shared with other processes unless owned_alone.
void console_script_start(std::vector<console_key> keys, bool interactive = false);
void console_script_set_console(std::size_t columns, bool owned_alone);
// How many keys the run has taken since the script started.
std::size_t console_script_keys_read();
// Everything written since the script started.
const std::string& console_script_output();
