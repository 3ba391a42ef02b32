#include "prompts.h"

#include "console.h"

void print_text(std::string_view text) { console_write(text); }

void print_line(std::string_view text) {
    std::string line(text);
    line += "\r\n";
    console_write(line);
}

void print_empty_line() { console_write("\r\n"); }

bool read_key(std::string& text) {
    console_key key;
    if (!console_next_key(key)) {
        return false;
    }
    text.clear();
    if (key.extended) {
        text += static_cast<char>(255);
    }
    text += static_cast<char>(key.code);
    return true;
}

bool wait_for_enter_silently() {
    std::string key;
    while (read_key(key)) {
        if (key == "\r") {
            return true;
        }
    }
    return false;
}

bool wait_for_enter() {
    print_line("(Enter zum Beenden druecken)");
    return wait_for_enter_silently();
}
