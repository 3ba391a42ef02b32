// Block digest: MD5's layout, constants and rounds, computed on unsigned 64-bit words
// that are never reduced to 32 bits. Its texts identify the game's header and guard blocks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Owned by the caller; holds no resources. One context serves one message.
struct digest_context {
    std::uint8_t buffer[64];  // bytes of the block not yet complete
    std::uint64_t count[2];   // bits fed (mod 2^64); byte counts >> 29 plus carries
    std::uint64_t state[4];   // A, B, C, D
};

void digest_init(digest_context& context);
void digest_update(digest_context& context, const std::uint8_t* bytes, std::uint64_t length);
// Pads, appends the length field and returns the 32-character upper-case digest text.
std::string digest_final(digest_context& context);

// Digest text of all bytes of text, or "Kein Text enthalten" for an empty text.
std::string digest_text(std::string_view text);
