// The digest's inner pieces, for digest.cpp and its tests alone: the block transform, the
// word coding and one step. The step is kept inline so that the unrolled transform compiles to
// plain shifts and adds, and so that tests can check the step's pieces against known values.
#pragma once

#include <cstddef>
#include <cstdint>

void digest_transform(std::uint64_t state[4], const std::uint8_t block[64]);
// length is a multiple of 4: bytes to length / 4 zero-extended little-endian words.
void digest_decode(std::uint64_t* words, const std::uint8_t* bytes, std::size_t length);
// The low 32 bits of each word, least significant byte first, into length bytes.
void digest_encode(std::uint8_t* bytes, const std::uint64_t* words, std::size_t length);

// Written like a 32-bit rotation but on the whole 64-bit word: the upper bits are neither
// masked nor rotated, they move down by 32 - s places and stay in the word.
constexpr std::uint64_t digest_shift(std::uint64_t v, int s) { return (v << s) | (v >> (32 - s)); }

// The round functions act on all 64 bits; each is written in a form with the same value in
// every bit as (x AND y) OR (NOT x AND z) and its like, but with fewer operations on the
// path through x.
constexpr std::uint64_t digest_f(std::uint64_t x, std::uint64_t y, std::uint64_t z) {
    return z ^ (x & (y ^ z));
}

// The two terms share no bit, so their sum is their OR; as a sum the term without x can be
// added ahead of x.
constexpr std::uint64_t digest_g(std::uint64_t x, std::uint64_t y, std::uint64_t z) {
    return (x & z) + (y & ~z);
}

constexpr std::uint64_t digest_h(std::uint64_t x, std::uint64_t y, std::uint64_t z) {
    return x ^ y ^ z;
}

constexpr std::uint64_t digest_i(std::uint64_t x, std::uint64_t y, std::uint64_t z) {
    return y ^ (x | ~z);
}
