// The releases of the game the tool knows: where each keeps its slots and how its blocks
// must read. Adding a release is one more row here.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

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

// Tried in this order; the first whose file opens is the target.
extern const std::span<const target_row> known_releases;

// The digest texts a header block and a guard block may have, whatever the release.
extern const std::span<const std::string_view> accepted_header_texts;
extern const std::span<const std::string_view> accepted_guard_texts;
