#include "answer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Value of c as a digit of base, or -1 when it is none.
int digit_value(char c, int base) {
    int value = base;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

// &H1F, &B101, &O17, &17: digits gathered into a 64-bit integer that wraps. The arithmetic
// is unsigned so that the wrap is defined; the bits are then read as a signed integer.
double ampersand_number(std::string_view digits, int base) {
    std::uint64_t value = 0;
    for (const char c : digits) {
        const int digit = digit_value(c, base);
        if (digit < 0) {
            break;
        }
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    return static_cast<double>(static_cast<std::int64_t>(value));
}

// from_chars reports a number too large or too small for a double without a value. Which of
// the two it was follows from the number's order of magnitude: digits before the point count
// up, zeros after it count down, and the exponent adds its own.
bool magnitude_is_large(std::string_view text, bool hex) {
    const char exponent_mark = hex ? 'p' : 'e';
    const std::int64_t digit_weight = hex ? 4 : 1;
    std::int64_t magnitude = 0;
    bool seen_point = false;
    bool seen_significant = false;
    std::size_t i = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !seen_point) {
            seen_point = true;
        } else if (hex ? is_hex_digit(c) : (c >= '0' && c <= '9')) {
            if (c != '0') {
                seen_significant = true;
            }
            if (seen_significant && !seen_point) {
                magnitude += digit_weight;
            } else if (!seen_significant && seen_point) {
                magnitude -= digit_weight;
            }
        } else {
            break;
        }
    }
    if (i < text.size() && (text[i] | 0x20) == exponent_mark) {
        ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            negative = text[i] == '-';
            ++i;
        }
        std::int64_t exponent = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            // Saturates far beyond any double, so the sum below cannot overflow.
            exponent = std::min<std::int64_t>(exponent * 10 + (text[i] - '0'), 1'000'000'000);
        }
        magnitude += negative ? -exponent : exponent;
    }
    return magnitude > 0;
}

// Length of the digits, point and exponent at the start of text as strtod takes them; 0
// when there is no digit. An exponent counts only with at least one digit after its sign.
std::size_t numeral_length(std::string_view text, bool hex) {
    const auto is_digit = [hex](char c) { return hex ? is_hex_digit(c) : c >= '0' && c <= '9'; };
    const std::size_t n = text.size();
    std::size_t i = 0;
    bool digits = false;
    for (; i < n && is_digit(text[i]); ++i) {
        digits = true;
    }
    if (i < n && text[i] == '.') {
        for (++i; i < n && is_digit(text[i]); ++i) {
            digits = true;
        }
    }
    if (!digits) {
        return 0;
    }
    if (i < n && (text[i] | 0x20) == (hex ? 'p' : 'e')) {
        std::size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-')) {
            ++j;
        }
        if (j < n && text[j] >= '0' && text[j] <= '9') {
            for (; j < n && text[j] >= '0' && text[j] <= '9'; ++j) {
            }
            i = j;
        }
    }
    return i;
}

// Reads like strtod in the "C" locale, whatever locale the process is in. strtod itself is
// not used: it follows the process locale, and mingw-w64's reads a bare sign ("-n") as -0.
// from_chars does the exact conversion; the extent of the number is found here, because
// from_chars takes no plus sign and libstdc++ 12 lets a hexadecimal exponent carry two signs.
double c_locale_number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    text.remove_prefix(i);

    bool hex = false;
    if (text.size() >= 2 && text[0] == '0' && (text[1] | 0x20) == 'x') {
        hex = numeral_length(text.substr(2), true) > 0;
        if (hex) {
            text.remove_prefix(2);
        }  // otherwise only the 0 before the x is a number
    }
    std::size_t length = numeral_length(text, hex);
    if (length == 0) {
        // No digits: perhaps inf, infinity or nan; from_chars reads those and their extent.
        const char first = static_cast<char>(text.empty() ? 0 : text[0] | 0x20);
        if (first != 'i' && first != 'n') {
            return 0.0;
        }
        length = text.size();
    }

    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + length, value,
                                        hex ? std::chars_format::hex : std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        value = magnitude_is_large(text.substr(0, length), hex)
                    ? std::numeric_limits<double>::infinity()
                    : 0.0;
    } else if (result.ec != std::errc{}) {
        return 0.0;
    }
    return negative ? -value : value;
}

}  // namespace

std::string cut_field(std::string_view line) {
    std::size_t start = 0;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) {
        ++start;
    }
    std::size_t end = 0;
    if (start < line.size() && line[start] == '"') {
        ++start;
        end = line.find('"', start);
    } else {
        end = line.find(',', start);
    }
    if (end == std::string_view::npos) {
        end = line.size();
    }
    return std::string(line.substr(start, std::min(end - start, answer_field_limit)));
}

double to_number(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && text[start] == ' ') {
        ++start;
    }
    text.remove_prefix(start);
    if (text.empty()) {
        return 0.0;
    }

    if (text[0] == '&' && text.size() >= 2) {
        switch (text[1]) {
            case 'H':
            case 'h':
                return ampersand_number(text.substr(2), 16);
            case 'B':
            case 'b':
                return ampersand_number(text.substr(2), 2);
            case 'O':
            case 'o':
                return ampersand_number(text.substr(2), 8);
            default:
                return ampersand_number(text.substr(1), 8);
        }
    }

    // Old BASIC wrote the exponent of a double with D.
    std::string number(text);
    for (char& c : number) {
        if (c == 'D' || c == 'd') {
            c = 'E';
        }
    }
    return c_locale_number(number);
}

std::int64_t to_choice(double value) {
    constexpr std::int64_t no_choice = std::numeric_limits<std::int64_t>::min();
    // 2^63 is exact as a double; converting anything outside [-2^63, 2^63) is undefined.
    constexpr double limit = 9223372036854775808.0;
    if (!(value >= -limit && value < limit)) {
        return no_choice;  // NaN fails every comparison and lands here too
    }
    // Ties go to the even neighbour whatever rounding mode the process runs in.
    double whole = std::floor(value);
    // Exact, except between -0.5 and 0, where a fraction rounded to 0.5 still gives 0.
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0)) {
        whole += 1.0;
    }
    return static_cast<std::int64_t>(whole);
}
