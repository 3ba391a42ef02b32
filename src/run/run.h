// The patch run: start-up, finding and identifying the game executable, and the console
// operations the whole dialogue uses.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "mode_list.h"
#include "target_file.h"

constexpr std::size_t block_length = 1024;

// One known release of the game.
struct target_row {
    const char* file_name;
    std::uint64_t required_length;
    std::uint64_t slot_table_offset;  // slot 1; eight slots of eight bytes
    std::uint64_t guard_offset;       // the header block is always at 0
    const char* length_message;
    const char* altered_message;
    bool prints_digests;  // the digest texts are printed before the altered message
};

// What the run accepts: the target rows, tried in order, and the digest texts a header
// block and a guard block may have.
struct run_setup {
    std::span<const target_row> targets;
    std::span<const std::string_view> header_texts;
    std::span<const std::string_view> guard_texts;
};

extern const target_row game_targets[2];
extern const std::string_view game_header_texts[2];
extern const std::string_view game_guard_texts[2];
extern const run_setup game_setup;

// Everything the run holds from start to end; the dialogue borrows it.
struct run_state {
    const target_row* row = nullptr;
    target_file target;
    std::array<std::uint8_t, block_length> header_block = {};
    std::array<std::uint8_t, block_length> guard_block = {};
    mode_table modes;
};

void print_text(std::string_view text);
void print_line(std::string_view text);
void print_empty_line();

// The text of the next key: one character, or the byte 255 and the PC extended key code.
// Blocks until a key comes; false once input has ended.
bool read_key(std::string& text);
// Prints the Enter prompt and waits for Enter. False when input ended first.
bool wait_for_enter();
// Closes any open file. The caller then returns from the run.
void end_run(run_state& state);

// The digest text of a block's text: its bytes up to its first zero byte.
std::string block_digest(std::span<const std::uint8_t> block);

// The whole run on an opened console. Returns the process exit status, which is always 0.
int run_patch(const run_setup& setup);
