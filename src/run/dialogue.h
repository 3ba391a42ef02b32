// The slot editing dialogue: the eight resolution slots, the user's two choices, the
// patch and the advice on the field of view.
#pragma once

#include <array>
#include <cstdint>

#include "run.h"

// Eight bytes: 32-bit little-endian width, then height. Only the low 16 bits of each are
// read and written; the other bytes are kept as read.
using slot_buffer = std::array<std::uint8_t, 8>;

struct slot_size {
    std::uint32_t width;
    std::uint32_t height;
};

constexpr int slot_count = 8;

// Fills buffer from slot k (1 to 8) and gives its shown width and height.
slot_size read_slot(const run_state& state, int slot, slot_buffer& buffer);
// Sets bytes 0, 1, 4 and 5 of buffer and writes all eight back to slot k. False when the
// file refused the write.
bool write_slot(const run_state& state, int slot, slot_buffer& buffer, std::uint64_t width,
                std::uint64_t height);

// Runs the dialogue on an identified, open target until the run ends.
void run_dialogue(run_state& state);
