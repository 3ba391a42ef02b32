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
// Sets bytes 0, 1, 4 and 5 of buffer and writes all eight back to slot k. False, with
// nothing written, when the buffer was not read from the slot or the file refused the write.
bool write_slot(const run_state& state, int slot, slot_buffer& buffer, std::uint64_t width,
                std::uint64_t height);

enum class dialogue_outcome {
    ended_by_nine,  // the user's 9 at the slot choice
    input_ended,    // input ended at a prompt
    slot_kept,      // "Slot nicht veraendern"
    slot_written,
    write_refused,  // reported to the user; the file is as it was
};

// Runs the dialogue on an identified, open target. Leaves the target open and prompts for
// nothing at its end: the run does both.
dialogue_outcome run_dialogue(const run_state& state);
