// The slot editing dialogue: the eight resolution slots, the user's two choices, the
// patch and the advice on the field of view.
#pragma once

#include <array>
#include <cstdint>

#include "run_state.h"

// Eight bytes: 32-bit little-endian width, then height. Only the low 16 bits of each are
// read and written; the other bytes are kept as read.
struct slot_buffer {
    std::array<std::uint8_t, 8> bytes = {};
    bool read = false;  // all eight bytes came from the slot; nothing is written otherwise
};

struct slot_size {
    std::uint32_t width;
    std::uint32_t height;
};

constexpr int slot_count = 8;

// Fills buffer from slot k (1 to 8) and gives its shown width and height (0 when the slot
// could not be read).
slot_size read_slot(const run_state& state, int slot, slot_buffer& buffer);
enum class slot_write {
    done,       // all eight bytes written and pushed through to the medium
    not_done,   // nothing written: the slot was not read, the name no longer names the open
                // file, the file changed since it was identified and the slot shown, or the
                // file refused the write
    uncertain,  // written in part, or the push through to the medium failed
};

// Sets bytes 0, 1, 4 and 5 of buffer and writes all eight back to slot k, then pushes them
// through to the medium; writes nothing unless the open file still has the length and blocks
// that were identified and slot k still holds the bytes in buffer.
[[nodiscard]] slot_write write_slot(const run_state& state, int slot, slot_buffer& buffer,
                                    std::uint64_t width, std::uint64_t height);

enum class dialogue_outcome {
    not_run,        // the target was not identified
    ended_by_nine,  // the user's 9 at the slot choice
    input_ended,    // input ended at a prompt
    slot_kept,      // "Slot nicht veraendern"
    slot_chosen,    // a mode was chosen and its write tried
};

struct dialogue_result {
    dialogue_outcome outcome = dialogue_outcome::not_run;
    // For slot_chosen: how the write went, and the mode table row's width and height.
    slot_write write = slot_write::not_done;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
};

// Runs the dialogue on an identified, open target up to the write. Leaves the target open,
// and the advice or the failure report to report_write, after the run has closed it.
dialogue_result run_dialogue(const run_state& state);

// The end of a chosen slot's write, once the target is closed: the advice when the slot is
// surely in the file, else the failure report. Nothing for the other outcomes.
void report_write(const dialogue_result& result, bool closed);
