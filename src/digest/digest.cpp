#include "digest.h"

#include "digest_step.h"

#include <array>
#include <cstring>

namespace {

// Integer part of |sin(i + 1)| * 2^32; held as 64-bit words so that no constant can ever be
// sign-extended.
constexpr std::array<std::uint64_t, 64> step_constant = {
    0xD76AA478, 0xE8C7B756, 0x242070DB, 0xC1BDCEEE, 0xF57C0FAF, 0x4787C62A, 0xA8304613, 0xFD469501,
    0x698098D8, 0x8B44F7AF, 0xFFFF5BB1, 0x895CD7BE, 0x6B901122, 0xFD987193, 0xA679438E, 0x49B40821,
    0xF61E2562, 0xC040B340, 0x265E5A51, 0xE9B6C7AA, 0xD62F105D, 0x02441453, 0xD8A1E681, 0xE7D3FBC8,
    0x21E1CDE6, 0xC33707D6, 0xF4D50D87, 0x455A14ED, 0xA9E3E905, 0xFCEFA3F8, 0x676F02D9, 0x8D2A4C8A,
    0xFFFA3942, 0x8771F681, 0x6D9D6122, 0xFDE5380C, 0xA4BEEA44, 0x4BDECFA9, 0xF6BB4B60, 0xBEBFBC70,
    0x289B7EC6, 0xEAA127FA, 0xD4EF3085, 0x04881D05, 0xD9D4D039, 0xE6DB99E5, 0x1FA27CF8, 0xC4AC5665,
    0xF4292244, 0x432AFF97, 0xAB9423A7, 0xFC93A039, 0x655B59C3, 0x8F0CCC92, 0xFFEFF47D, 0x85845DD1,
    0x6FA87E4F, 0xFE2CE6E0, 0xA3014314, 0x4E0811A1, 0xF7537E82, 0xBD3AF235, 0x2AD7D2BB, 0xEB86D391,
};

constexpr std::array<int, 16> shift_by_round = {
    7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21,
};

constexpr int step_shift_amount(int i) {
    const int index = i / 16 * 4 + i % 4;
    return shift_by_round[static_cast<std::size_t>(index)];
}

// Which input word step i reads.
constexpr std::size_t step_word(int i) {
    const int k = i < 16 ? i : i < 32 ? 1 + 5 * i : i < 48 ? 5 + 3 * i : 7 * i;
    return static_cast<std::size_t>(k % 16);
}

static_assert(step_shift_amount(0) == 7 && step_shift_amount(19) == 20);
static_assert(step_shift_amount(46) == 16 && step_shift_amount(63) == 21);
static_assert(step_word(16) == 1 && step_word(31) == 12 && step_word(32) == 5);
static_assert(step_word(47) == 2 && step_word(49) == 7 && step_word(63) == 9);

constexpr std::uint64_t initial_state[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};

inline std::uint64_t load_le32(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(p[0]) | static_cast<std::uint64_t>(p[1]) << 8 |
           static_cast<std::uint64_t>(p[2]) << 16 | static_cast<std::uint64_t>(p[3]) << 24;
}

inline void store_le32(std::uint8_t* p, std::uint64_t word) {
    p[0] = static_cast<std::uint8_t>(word);
    p[1] = static_cast<std::uint8_t>(word >> 8);
    p[2] = static_cast<std::uint8_t>(word >> 16);
    p[3] = static_cast<std::uint8_t>(word >> 24);
}

}  // namespace

// One step with every constant known at compile time; the caller rotates the names of the
// four words instead of moving their values.
#define PW_DIGEST_STEP(f, a, b, c, d, step)                                      \
    (a) += digest_##f((b), (c), (d)) + x[step_word(step)] + step_constant[step]; \
    (a) = (b) + digest_shift((a), step_shift_amount(step))

void digest_transform(std::uint64_t state[4], const std::uint8_t block[64]) {
    std::uint64_t x[16];
    digest_decode(x, block, 64);

    std::uint64_t a = state[0];
    std::uint64_t b = state[1];
    std::uint64_t c = state[2];
    std::uint64_t d = state[3];

    PW_DIGEST_STEP(f, a, b, c, d, 0);
    PW_DIGEST_STEP(f, d, a, b, c, 1);
    PW_DIGEST_STEP(f, c, d, a, b, 2);
    PW_DIGEST_STEP(f, b, c, d, a, 3);
    PW_DIGEST_STEP(f, a, b, c, d, 4);
    PW_DIGEST_STEP(f, d, a, b, c, 5);
    PW_DIGEST_STEP(f, c, d, a, b, 6);
    PW_DIGEST_STEP(f, b, c, d, a, 7);
    PW_DIGEST_STEP(f, a, b, c, d, 8);
    PW_DIGEST_STEP(f, d, a, b, c, 9);
    PW_DIGEST_STEP(f, c, d, a, b, 10);
    PW_DIGEST_STEP(f, b, c, d, a, 11);
    PW_DIGEST_STEP(f, a, b, c, d, 12);
    PW_DIGEST_STEP(f, d, a, b, c, 13);
    PW_DIGEST_STEP(f, c, d, a, b, 14);
    PW_DIGEST_STEP(f, b, c, d, a, 15);

    PW_DIGEST_STEP(g, a, b, c, d, 16);
    PW_DIGEST_STEP(g, d, a, b, c, 17);
    PW_DIGEST_STEP(g, c, d, a, b, 18);
    PW_DIGEST_STEP(g, b, c, d, a, 19);
    PW_DIGEST_STEP(g, a, b, c, d, 20);
    PW_DIGEST_STEP(g, d, a, b, c, 21);
    PW_DIGEST_STEP(g, c, d, a, b, 22);
    PW_DIGEST_STEP(g, b, c, d, a, 23);
    PW_DIGEST_STEP(g, a, b, c, d, 24);
    PW_DIGEST_STEP(g, d, a, b, c, 25);
    PW_DIGEST_STEP(g, c, d, a, b, 26);
    PW_DIGEST_STEP(g, b, c, d, a, 27);
    PW_DIGEST_STEP(g, a, b, c, d, 28);
    PW_DIGEST_STEP(g, d, a, b, c, 29);
    PW_DIGEST_STEP(g, c, d, a, b, 30);
    PW_DIGEST_STEP(g, b, c, d, a, 31);

    PW_DIGEST_STEP(h, a, b, c, d, 32);
    PW_DIGEST_STEP(h, d, a, b, c, 33);
    PW_DIGEST_STEP(h, c, d, a, b, 34);
    PW_DIGEST_STEP(h, b, c, d, a, 35);
    PW_DIGEST_STEP(h, a, b, c, d, 36);
    PW_DIGEST_STEP(h, d, a, b, c, 37);
    PW_DIGEST_STEP(h, c, d, a, b, 38);
    PW_DIGEST_STEP(h, b, c, d, a, 39);
    PW_DIGEST_STEP(h, a, b, c, d, 40);
    PW_DIGEST_STEP(h, d, a, b, c, 41);
    PW_DIGEST_STEP(h, c, d, a, b, 42);
    PW_DIGEST_STEP(h, b, c, d, a, 43);
    PW_DIGEST_STEP(h, a, b, c, d, 44);
    PW_DIGEST_STEP(h, d, a, b, c, 45);
    PW_DIGEST_STEP(h, c, d, a, b, 46);
    PW_DIGEST_STEP(h, b, c, d, a, 47);

    PW_DIGEST_STEP(i, a, b, c, d, 48);
    PW_DIGEST_STEP(i, d, a, b, c, 49);
    PW_DIGEST_STEP(i, c, d, a, b, 50);
    PW_DIGEST_STEP(i, b, c, d, a, 51);
    PW_DIGEST_STEP(i, a, b, c, d, 52);
    PW_DIGEST_STEP(i, d, a, b, c, 53);
    PW_DIGEST_STEP(i, c, d, a, b, 54);
    PW_DIGEST_STEP(i, b, c, d, a, 55);
    PW_DIGEST_STEP(i, a, b, c, d, 56);
    PW_DIGEST_STEP(i, d, a, b, c, 57);
    PW_DIGEST_STEP(i, c, d, a, b, 58);
    PW_DIGEST_STEP(i, b, c, d, a, 59);
    PW_DIGEST_STEP(i, a, b, c, d, 60);
    PW_DIGEST_STEP(i, d, a, b, c, 61);
    PW_DIGEST_STEP(i, c, d, a, b, 62);
    PW_DIGEST_STEP(i, b, c, d, a, 63);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

#undef PW_DIGEST_STEP

void digest_decode(std::uint64_t* words, const std::uint8_t* bytes, std::size_t length) {
    for (std::size_t j = 0; j < length / 4; ++j) {
        words[j] = load_le32(bytes + 4 * j);
    }
}

void digest_encode(std::uint8_t* bytes, const std::uint64_t* words, std::size_t length) {
    for (std::size_t j = 0; j < length / 4; ++j) {
        store_le32(bytes + 4 * j, words[j]);
    }
}

void digest_init(digest_context& context) {
    context.count[0] = 0;
    context.count[1] = 0;
    std::memset(context.buffer, 0, sizeof context.buffer);
    for (int j = 0; j < 4; ++j) {
        context.state[j] = initial_state[j];
    }
}

void digest_update(digest_context& context, const std::uint8_t* bytes, std::uint64_t length) {
    if (length == 0) {
        return;
    }
    std::uint64_t index = (context.count[0] >> 3) & 63;

    // count[1] gathers each call's length >> 29 and the carries out of count[0]; for more
    // than 2^29 bytes in several calls this is not the total bit count's upper half.
    const std::uint64_t bits = length << 3;
    context.count[0] += bits;
    if (context.count[0] < bits) {
        ++context.count[1];
    }
    context.count[1] += length >> 29;

    const std::uint64_t part = 64 - index;
    std::uint64_t i = 0;
    if (length >= part) {
        std::memcpy(context.buffer + index, bytes, static_cast<std::size_t>(part));
        digest_transform(context.state, context.buffer);
        for (i = part; i + 63 < length; i += 64) {
            digest_transform(context.state, bytes + i);
        }
        index = 0;
    }
    std::memcpy(context.buffer + index, bytes + i, static_cast<std::size_t>(length - i));
}

std::string digest_final(digest_context& context) {
    std::uint8_t length_field[8];
    digest_encode(length_field, context.count, 8);

    static constexpr std::uint8_t padding[64] = {0x80};
    const std::uint64_t index = (context.count[0] >> 3) & 63;
    const std::uint64_t padding_length = index <= 55 ? 56 - index : 120 - index;
    digest_update(context, padding, padding_length);
    digest_update(context, length_field, 8);

    std::uint8_t digest[16];
    digest_encode(digest, context.state, 16);

    static constexpr char hex_digits[] = "0123456789ABCDEF";
    std::string text(32, '0');
    for (std::size_t j = 0; j < 16; ++j) {
        text[2 * j] = hex_digits[digest[j] >> 4];
        text[2 * j + 1] = hex_digits[digest[j] & 15];
    }
    return text;
}

std::string digest_text(std::string_view text) {
    if (text.empty()) {
        return "Kein Text enthalten";
    }
    // Digesting the bytes straight from the text gives what a zero-filled working copy would
    // give, for texts of any length.
    digest_context context;
    digest_init(context);
    digest_update(context, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    return digest_final(context);
}
