// The patch run: start-up, finding and identifying the game executable, the dialogue and
// the end.
#pragma once

#include <span>
#include <string_view>

#include "releases.h"

// What the run accepts: the target rows, tried in order, and the digest texts a header
// block and a guard block may have.
struct run_setup {
    std::span<const target_row> targets;
    std::span<const std::string_view> header_texts;
    std::span<const std::string_view> guard_texts;
};

// The releases the tool knows, as they stand in releases.cpp.
extern const run_setup known_setup;

// The whole run on an opened console. Returns the process exit status, which is always 0.
int run_patch(const run_setup& setup);
