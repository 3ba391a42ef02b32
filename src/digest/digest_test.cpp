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

TEST(digest, first_step_keeps_its_carry) {
    const std::uint64_t a = 0x67452301, b = 0xEFCDAB89, c = 0x98BADCFE, d = 0x10325476;
    EXPECT_EQ(digest_f(b, c, d), 0x98BADCFEu);
    const std::uint64_t v = a + digest_f(b, c, d) + 0 + 0xD76AA478;
    EXPECT_EQ(v, 0x1D76AA477u);
    EXPECT_EQ(digest_shift(v, 7), 0xEBB5523BEBu);
    EXPECT_EQ(b + digest_shift(v, 7), 0xECA51FE774u);
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

TEST(digest, bit_count_and_its_carry) {
    digest_context context;
    digest_init(context);
    digest_update(context, bytes_of("abcdefghij"), 10);
    EXPECT_EQ(context.count[0], 80u);
    EXPECT_EQ(context.count[1], 0u);
    EXPECT_EQ(std::memcmp(context.buffer, "abcdefghij", 10), 0);

    // An empty update changes nothing at all.
    digest_context before;
    std::memcpy(&before, &context, sizeof context);
    digest_update(context, nullptr, 0);
    EXPECT_EQ(std::memcmp(&before, &context, sizeof context), 0);

    // count[0] wraps modulo 2^64 and carries into count[1].
    context.count[0] = UINT64_MAX - 7;
    context.count[1] = 5;
    digest_update(context, bytes_of("x"), 1);
    EXPECT_EQ(context.count[0], 0u);
    EXPECT_EQ(context.count[1], 6u);
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
