#include "run.h"

#include <algorithm>

#include "console.h"
#include "dialogue.h"
#include "digest.h"

const target_row game_targets[2] = {
    {"cstrike.exe", 946176, 844536, 844600,
     "Dateilaenge stimmt nicht. Nicht CS 1.5 US-Retail? breche ab!",
     "Datei wurde anderweitig veraendert. Nicht CS 1.5 US-Retail? Breche ab!", true},
    {"hl.exe", 942080, 848632, 848696,
     "Dateilaenge stimmt nicht. Nicht US-Halflife 1.1.1.0? breche ab!",
     "Datei wurde anderweitig veraendert. Nicht US-Halflife 1.1.1.0? Breche ab!", false},
};

const std::string_view game_header_texts[2] = {"DB1131FF326055BD86F7618809AD1B28",
                                               "82BEF32153657DC25DC439A3B500A614"};
const std::string_view game_guard_texts[2] = {"677C75B25CC9D9794BB8DA26E46C62A6",
                                              "486F613A20AEE71C7610A665F49BCBF1"};

const run_setup game_setup = {game_targets, game_header_texts, game_guard_texts};

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

bool wait_for_enter() {
    print_line("(Enter zum Beenden druecken)");
    std::string key;
    while (read_key(key)) {
        if (key == "\r") {
            return true;
        }
    }
    return false;
}

void end_run(run_state& state) { close_target(state.target); }

std::string block_digest(std::span<const std::uint8_t> block) {
    const auto end = std::find(block.begin(), block.end(), std::uint8_t{0});
    const std::string_view text(reinterpret_cast<const char*>(block.data()),
                                static_cast<std::size_t>(end - block.begin()));
    return digest_text(text);
}

namespace {

bool accepted(const std::string& text, std::span<const std::string_view> texts) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The first target row whose file opens for reading, or none.
const target_row* find_target(const run_setup& setup, target_file& file) {
    for (const target_row& row : setup.targets) {
        if (open_for_reading(file, row.file_name)) {
            close_target(file);
            return &row;
        }
        close_target(file);
    }
    return nullptr;
}

// Length and both block digests. Reports a failure and returns false.
bool identify(const run_setup& setup, run_state& state) {
    const target_row& row = *state.row;
    if (target_length(state.target) != row.required_length) {
        print_line(row.length_message);
        return false;
    }
    // A block that cannot be read stays zero and so is not accepted.
    read_at(state.target, 0, state.header_block.data(), block_length);
    read_at(state.target, row.guard_offset, state.guard_block.data(), block_length);
    const std::string header = block_digest(state.header_block);
    const std::string guard = block_digest(state.guard_block);
    if (accepted(header, setup.header_texts) && accepted(guard, setup.guard_texts)) {
        return true;
    }
    if (row.prints_digests) {
        print_line(header);
        print_line(guard);
    }
    print_line(row.altered_message);
    close_target(state.target);
    return false;
}

}  // namespace

int run_patch(const run_setup& setup) {
    run_state state;
    print_line("Pixelwarde 1.2");
    print_empty_line();
    state.row = find_target(setup, state.target);
    if (state.row == nullptr) {
        print_line("cstrike.exe und hl.exe nicht gefunden! Liegt pixelwarde im falschen Ordner?");
        end_run(state);
        return 0;
    }
    print_text(state.row->file_name);
    print_line(" gefunden!");
    print_empty_line();
    state.modes = take_display_mode_list();
    open_for_update(state.target, state.row->file_name);
    if (!identify(setup, state)) {
        wait_for_enter();
        end_run(state);
        return 0;
    }
    run_dialogue(state);
    end_run(state);
    return 0;
}
