// Everything the run holds from start to end; the dialogue borrows it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "mode_list.h"
#include "releases.h"
#include "target_file.h"

constexpr std::size_t block_length = 1024;

struct run_state {
    const target_row* row = nullptr;
    // The name the target was found under: the row's file name, in any case where the
    // system tells case apart. It is opened and written; the texts name the row's.
    std::string file_name;
    target_file target;
    std::array<std::uint8_t, block_length> header_block = {};
    std::array<std::uint8_t, block_length> guard_block = {};
    mode_table modes;
};
