#include "digest.h"

#include "digest_step.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct known_answer {
    const char* name;
    std::string text;
    const char* expected;
};

const std::vector<known_answer>& known_answers() {
    static const std::vector<known_answer> table = {
        {"abc", "abc", "7999DC75E8DA648C6727E137C5B77803"},
        {"header start 4D 5A 90", "\x4D\x5A\x90", "DB1131FF326055BD86F7618809AD1B28"},
        {"one zero byte", std::string(1, '\0'), "00CA4158078259C9C411F9F5AE8988EF"},
        // Padding at the block edges.
        {"55 a", std::string(55, 'a'), "82DADB2EE3FCCE5C089FF84BA50AB9CC"},
        {"56 a", std::string(56, 'a'), "FCBD969A5A67E1CFDE102ED511C96542"},
        {"63 a", std::string(63, 'a'), "D11F588C1AD751DFA43E57B83D41F074"},
        {"64 a", std::string(64, 'a'), "A5326833FD339A96B416EE48A71529C3"},
        {"1024 a", std::string(1024, 'a'), "18A7EC3E71EBC2AA6E1BBB21A6D8ED5B"},
        {"16385 a", std::string(16385, 'a'), "E1EAB108E333B4068667DC94E8A0032A"},
        // One byte beyond the longest block text: digested like any other.
        {"16386 a", std::string(16386, 'a'), "E655365550E493D3F4F1DD678E5ADA7E"},
    };
    return table;
}

const std::uint8_t* bytes_of(const std::string& text) {
    return reinterpret_cast<const std::uint8_t*>(text.data());
}

// Feeds text in pieces of the given sizes, cycling through them until the text is used up.
std::string digest_in_pieces(const std::string& text, const std::vector<std::size_t>& pieces) {
    digest_context context;
    digest_init(context);
    std::size_t at = 0;
    for (std::size_t p = 0; at < text.size(); p = (p + 1) % pieces.size()) {
        const std::size_t size = std::min(pieces[p], text.size() - at);
        digest_update(context, bytes_of(text) + at, size);
        at += size;
    }
    return digest_final(context);
}

TEST(digest, known_answers_in_one_update) {
    for (const known_answer& k : known_answers()) {
        EXPECT_EQ(digest_text(k.text), k.expected) << k.name;

        digest_context context;
        digest_init(context);
        digest_update(context, bytes_of(k.text), k.text.size());
        EXPECT_EQ(digest_final(context), k.expected) << k.name;
    }
}

TEST(digest, known_answers_split_across_updates) {
    // Odd piece sizes that leave the buffer at many different fill levels.
    const std::vector<std::vector<std::size_t>> piece_sizes = {
        {1}, {7}, {63}, {64}, {65}, {3, 61, 129}, {4097},
    };
    for (const known_answer& k : known_answers()) {
        if (k.text.size() <= 1024) {
            // Every split point, with an empty update at the split.
            for (std::size_t split = 0; split <= k.text.size(); ++split) {
                digest_context context;
                digest_init(context);
                digest_update(context, bytes_of(k.text), split);
                digest_update(context, bytes_of(k.text) + split, 0);
                digest_update(context, bytes_of(k.text) + split, k.text.size() - split);
                EXPECT_EQ(digest_final(context), k.expected) << k.name << ", split at " << split;
            }
        }
        for (const std::vector<std::size_t>& pieces : piece_sizes) {
            EXPECT_EQ(digest_in_pieces(k.text, pieces), k.expected)
                << k.name << ", pieces from " << pieces.front();
        }
    }
}

TEST(digest, empty_text_is_not_digested) {
    EXPECT_EQ(digest_text(""), "Kein Text enthalten");
    EXPECT_EQ(digest_text(std::string_view()), "Kein Text enthalten");

    // The streaming operations do digest an empty message: padding and length only.
    digest_context context;
    digest_init(context);
    EXPECT_EQ(digest_final(context), "E4C23762ED2823A27E62A64B95C024E7");
}

TEST(digest, upper_halves_of_the_state_words_stay) {
    digest_context context;
    digest_init(context);
    digest_update(context, bytes_of("abc"), 3);
    EXPECT_EQ(digest_final(context), "7999DC75E8DA648C6727E137C5B77803");
    EXPECT_EQ(context.state[0], 0xAAFC819875DC9979u);
    EXPECT_EQ(context.state[1], 0xC69E4C8E8C64DAE8u);
    EXPECT_EQ(context.state[2], 0x956D559737E12767u);
    EXPECT_EQ(context.state[3], 0x6BA4ED980378B7C5u);
}

TEST(digest, one_transform_of_a_zero_block) {
    digest_context context;
    digest_init(context);
    const std::uint8_t zeros[64] = {};
    digest_transform(context.state, zeros);
    EXPECT_EQ(context.state[0], 0xD3AD278A18DD526Bu);
    EXPECT_EQ(context.state[1], 0xB9E2B26150E5A2AAu);
    EXPECT_EQ(context.state[2], 0xDF8DE662FEFE113Bu);
    EXPECT_EQ(context.state[3], 0xFC589A767EB67EC8u);
}

// The expected values of the next two tests and of the carry test below come from a separate
// implementation in Python (integers masked to 64 bits, the round functions in their textbook
// AND/OR/NOT form), not from this code; the rows marked so were also worked by hand. It is
// tests/block_digest.py, which prints every table of this file again when run without
// arguments: python3 tests/block_digest.py

TEST(digest, round_functions_act_on_all_64_bits) {
    // NOT reaches the upper half, so I of words whose upper halves are 0 has an upper half of
    // ones; G's two terms share no bit, so its sum form equals the OR form.
    const struct {
        std::uint64_t x, y, z, f, g, h, i;
    } cases[] = {
        // B, C, D of the first step; F by hand: F(B, C, D) = C, as B has every bit set where
        // C and D differ.
        {0x00000000EFCDAB89u, 0x0000000098BADCFEu, 0x0000000010325476u, 0x0000000098BADCFEu,
         0x0000000088888888u, 0x0000000067452301u, 0xFFFFFFFF77777777u},
        {0x0123456789ABCDEFu, 0xFEDCBA9876543210u, 0xF0F0F0F00F0F0F0Fu, 0xF0D0B09006040200u,
         0x0E2C4A68795B3D1Fu, 0x0F0F0F0FF0F0F0F0u, 0xF1F3F5F78FAFCFEFu},
        {0xFFFFFFFF00000000u, 0x00000000FFFFFFFFu, 0xAAAAAAAA55555555u, 0x0000000055555555u,
         0xAAAAAAAAAAAAAAAAu, 0x55555555AAAAAAAAu, 0xFFFFFFFF55555555u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.x << ' ' << c.y << ' ' << c.z);
        EXPECT_EQ(digest_f(c.x, c.y, c.z), c.f);
        EXPECT_EQ(digest_g(c.x, c.y, c.z), c.g);
        EXPECT_EQ(digest_h(c.x, c.y, c.z), c.h);
        EXPECT_EQ(digest_i(c.x, c.y, c.z), c.i);
    }
}

TEST(digest, step_shift_keeps_the_upper_bits_in_the_word) {
    const struct {
        std::uint64_t v;
        int s;
        std::uint64_t shifted;
    } cases[] = {
        // By hand: 0x80000001 << 12 is 0x80000001000, and bit 31 comes round to bit 11.
        {0x0000000080000001u, 12, 0x0000080000001800u},
        // The first step's sum, 33 bits, by hand: its carry lands in bits 39 and 7.
        {0x00000001D76AA477u, 7, 0x000000EBB5523BEBu},
        {0x0123456789ABCDEFu, 4, 0x123456789ABCDEF8u},
        {0xFEDCBA9876543210u, 23, 0x4C7F6E5D4C3B2A19u},
        {0xFFFFFFFF00000000u, 17, 0xFFFFFFFFFFFE0000u},
        {0x00000000FFFFFFFFu, 21, 0x001FFFFFFFFFFFFFu},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(digest_shift(c.v, c.s), c.shifted)
            << std::hex << c.v << " by " << std::dec << c.s;
    }
}

TEST(digest, md5_values_do_not_come_out) {
    // RFC 1321's test suite with its MD5 values.
    const struct {
        const char* text;
        const char* md5;
    } suite[] = {
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& s : suite) {
        EXPECT_NE(digest_text(s.text), s.md5) << s.text;
    }
    EXPECT_NE(digest_text("\x4D\x5A\x90"), "82BEF32153657DC25DC439A3B500A614");

    digest_context context;
    digest_init(context);
    EXPECT_NE(digest_final(context), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST(digest, a_carry_out_of_the_bit_count_reaches_the_length_field) {
    // No test can feed 2^61 bytes, so the context is put where such a message would leave it:
    // 63 bytes waiting and count[0] eight bits short of wrapping. One more byte wraps count[0]
    // to 0 and carries into count[1], which the length field holds; without the carry the
    // text would be 52EB5D5B637979DAA32EFCA2584B75BF.
    digest_context context;
    digest_init(context);
    context.count[0] = UINT64_MAX - 7;
    context.count[1] = 5;
    digest_update(context, bytes_of("x"), 1);
    EXPECT_EQ(digest_final(context), "8C1BC71F27CE5C4B75C461108968E399");
}

TEST(digest, encode_keeps_low_halves_and_decode_zero_extends) {
    const std::uint64_t words[2] = {0xFFEEDDCC04030201u, 0x00000001A0B0C0D0u};
    std::uint8_t bytes[8];
    digest_encode(bytes, words, 8);
    const std::uint8_t expected[8] = {0x01, 0x02, 0x03, 0x04, 0xD0, 0xC0, 0xB0, 0xA0};
    EXPECT_EQ(std::memcmp(bytes, expected, 8), 0);

    std::uint64_t decoded[2];
    digest_decode(decoded, bytes, 8);
    EXPECT_EQ(decoded[0], 0x04030201u);
    EXPECT_EQ(decoded[1], 0xA0B0C0D0u);
}

}  // namespace
