#include "run.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <span>
#include <string>

#include "console.h"
#include "dialogue.h"
#include "digest.h"
#include "prompts.h"
#include "run_state.h"
#include "version.h"

const run_setup known_setup = {known_releases, accepted_header_texts, accepted_guard_texts};

namespace {

// The digest text of a block's text: its bytes up to its first zero byte.
std::string block_digest(std::span<const std::uint8_t> block) {
    const auto end = std::find(block.begin(), block.end(), std::uint8_t{0});
    const std::string_view text(reinterpret_cast<const char*>(block.data()),
                                static_cast<std::size_t>(end - block.begin()));
    return digest_text(text);
}

// The product is built without exceptions: a failed allocation ends the run here instead
// of throwing through code (and system callbacks) that cannot unwind. It allocates nothing
// itself, or a failing allocation would call it again and again.
void end_when_out_of_memory() {
    console_write("Fehler: Nicht genug Arbeitsspeicher. Breche ab!\r\n");
    console_close();
    std::_Exit(0);
}

bool accepted(const std::string& text, std::span<const std::string_view> texts) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// The first target row whose file opens for reading, or none; sets the name it was found
// under. Leaves nothing open.
const target_row* find_target(const run_setup& setup, run_state& state) {
    for (const target_row& row : setup.targets) {
        const bool found = open_for_reading_any_case(state.target, row.file_name, state.file_name);
        // Opened for reading alone: a failed close loses nothing.
        static_cast<void>(close_target(state.target));
        if (found) {
            return &row;
        }
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
    return false;
}

// Whether the run ends with the Enter prompt after the dialogue.
bool prompts_for_enter(dialogue_outcome outcome) {
    switch (outcome) {
        case dialogue_outcome::not_run:
        case dialogue_outcome::slot_kept:
        case dialogue_outcome::slot_chosen:
            return true;
        case dialogue_outcome::ended_by_nine:
        case dialogue_outcome::input_ended:
            return false;
    }
    return false;
}

}  // namespace

int run_patch(const run_setup& setup) {
    std::set_new_handler(end_when_out_of_memory);
    run_state state;

    print_line(program_title);
    print_empty_line();
    state.row = find_target(setup, state);
    if (state.row == nullptr) {
        print_line("cstrike.exe und hl.exe nicht gefunden! Liegt pixelwarde im falschen Ordner?");
        // A console window of its own closes with the run: keep the line readable.
        if (console_is_interactive() && console_owned_alone()) {
            wait_for_enter_silently();
        }
        return 0;
    }
    print_text(state.row->file_name);
    print_line(" gefunden!");
    print_empty_line();
    state.modes = take_display_mode_list();
    open_for_update(state.target, state.file_name.c_str());

    dialogue_result result;
    if (identify(setup, state)) {
        result = run_dialogue(state);
    }
    // The run's one close. A written slot counts as in the file only once the close has
    // succeeded too, so the advice waits for it; and all is done before the prompt.
    const bool closed = close_target(state.target);
    report_write(result, closed);
    // An end signal that came during the write waited for its report; now it ends the run.
    if (console_release_end_signals()) {
        return 0;
    }
    if (prompts_for_enter(result.outcome)) {
        wait_for_enter();
    }
    return 0;
}
