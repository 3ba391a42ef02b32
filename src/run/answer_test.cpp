#include "answer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double not_a_number = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t no_choice = std::numeric_limits<std::int64_t>::min();

struct typed_case {
    std::string line;
    std::string field;
    double number;
    std::int64_t choice;
};

const std::vector<typed_case>& typed_cases() {
    static const std::vector<typed_case> cases = {
        // Plain numbers and texts without one.
        {"3", "3", 3, 3},
        {"3abc", "3abc", 3, 3},
        {"abc", "abc", 0, 0},
        {"", "", 0, 0},
        {"12 34", "12 34", 12, 12},
        // Field cutting: blanks and tabs before, commas, double quotes.
        {"4,7", "4", 4, 4},
        {"\"5,6\"", "5,6", 5, 5},
        {"\"5,6", "5,6", 5, 5},
        {"  12 ", "12 ", 12, 12},
        {"\t 7,8", "7", 7, 7},
        {" \"  7 , 8\" , 9", "  7 , 8", 7, 7},
        {"\"", "", 0, 0},
        {",5", "", 0, 0},
        {std::string(5000, '1'), std::string(4096, '1'), infinity, no_choice},
        // Only blanks are skipped before an ampersand; strtod skips the other spaces.
        {"\"\t5\"", "\t5", 5, 5},
        {"\"\t&H10\"", "\t&H10", 0, 0},
        // Ampersand forms, wrapping at 64 bits.
        {"&H1F", "&H1F", 31, 31},
        {"&h1f", "&h1f", 31, 31},
        {"  &H10", "&H10", 16, 16},
        {"&B101", "&B101", 5, 5},
        {"&b1021", "&b1021", 2, 2},
        {"&O17", "&O17", 15, 15},
        {"&o17", "&o17", 15, 15},
        {"&17", "&17", 15, 15},
        {"&18", "&18", 1, 1},
        {"&9", "&9", 0, 0},
        {"&", "&", 0, 0},
        {"&H", "&H", 0, 0},
        {"&H-1", "&H-1", 0, 0},
        {"&HFFFFFFFFFFFFFFFF", "&HFFFFFFFFFFFFFFFF", -1, -1},
        {"&H10000000000000005", "&H10000000000000005", 5, 5},
        {"&O1777777777777777777776", "&O1777777777777777777776", -2, -2},
        {"&H7FFFFFFFFFFFFFFF", "&H7FFFFFFFFFFFFFFF", 9223372036854775807.0, no_choice},
        // Exponents, D for E, hexadecimal, signs.
        {"1d1", "1d1", 10, 10},
        {"1D1", "1D1", 10, 10},
        {"1e1", "1e1", 10, 10},
        {"2.5d0", "2.5d0", 2.5, 2},
        {"15E-1", "15E-1", 1.5, 2},
        {"1e", "1e", 1, 1},
        {"1e+x", "1e+x", 1, 1},
        {".5", ".5", 0.5, 0},
        {".", ".", 0, 0},
        {"0x10", "0x10", 16, 16},
        {"0X1f", "0X1f", 31, 31},
        {"0x1.8p1", "0x1.8p1", 3, 3},
        {"0x.8", "0x.8", 0.5, 0},
        {"0x1p", "0x1p", 1, 1},
        {"0x1p+-4", "0x1p+-4", 1, 1},
        {"1e-+4", "1e-+4", 1, 1},
        {"0x1d", "0x1d", 30, 30},  // the D is read as E before the digits are
        {"0xg", "0xg", 0, 0},
        {"-0x", "-0x", 0, 0},
        {"-2", "-2", -2, -2},
        {"+2", "+2", 2, 2},
        {"--2", "--2", 0, 0},
        {"+-2", "+-2", 0, 0},
        {"- 2", "- 2", 0, 0},
        // Infinities, not-a-number, values beyond a double.
        {"inf", "inf", infinity, no_choice},
        {"-Infinity", "-Infinity", -infinity, no_choice},
        {"INFINIT", "INFINIT", infinity, no_choice},
        {"nan", "nan", not_a_number, no_choice},
        {"NaN(x_1)", "NaN(x_1)", not_a_number, no_choice},
        {"1e400", "1e400", infinity, no_choice},
        {"-1e400", "-1e400", -infinity, no_choice},
        {"0x1p2000", "0x1p2000", infinity, no_choice},
        {"1e-400", "1e-400", 0, 0},
        {"0.000001e-320", "0.000001e-320", 0, 0},
        {"1000000e-330", "1000000e-330", 0, 0},
        {"3000000e-330", "3000000e-330", 4.9406564584124654e-324, 0},
        // Rounding: ties to even, the edges of the 64-bit range.
        {"2.5", "2.5", 2.5, 2},
        {"3.5", "3.5", 3.5, 4},
        {"8.5", "8.5", 8.5, 8},
        {"9.5", "9.5", 9.5, 10},
        {"1.6", "1.6", 1.6, 2},
        {"0.5", "0.5", 0.5, 0},
        {"-0.5", "-0.5", -0.5, 0},
        {"-1.5", "-1.5", -1.5, -2},
        {"-2.5", "-2.5", -2.5, -2},
        {"-0.49999999999999994", "-0.49999999999999994", -0.49999999999999994, 0},
        {"4503599627370495.5", "4503599627370495.5", 4503599627370495.5, 4503599627370496},
        {"9223372036854774784", "9223372036854774784", 9223372036854774784.0, 9223372036854774784},
        {"9223372036854775807", "9223372036854775807", 9223372036854775808.0, no_choice},
        {"-9223372036854775808", "-9223372036854775808", -9223372036854775808.0, no_choice},
        {"-9223372036854774784", "-9223372036854774784", -9223372036854774784.0,
         -9223372036854774784},
        {"-1e19", "-1e19", -1e19, no_choice},
        // Single keys from read_key: an extended key and the carriage return.
        {"\xff\x4b", "\xff\x4b", 0, 0},
        {"\r", "\r", 0, 0},
    };
    return cases;
}

void check_typed_cases() {
    for (const typed_case& c : typed_cases()) {
        SCOPED_TRACE("typed: \"" + c.line.substr(0, 40) + "\"");
        const std::string field = cut_field(c.line);
        EXPECT_EQ(field, c.field);
        const double number = to_number(field);
        if (std::isnan(c.number)) {
            EXPECT_TRUE(std::isnan(number)) << number;
        } else {
            EXPECT_EQ(number, c.number);
        }
        EXPECT_EQ(to_choice(number), c.choice);
    }
}

TEST(typed_answer, field_number_and_choice) { check_typed_cases(); }

// A comma-decimal locale must not change how numbers read: "2.5" stays 2.5. On Linux the
// build folder's generated locale is used (LOCPATH); PW_NEEDS_GERMAN_LOCALE=1 turns a missing
// locale from a skip into a failure.
TEST(typed_answer, same_in_a_german_locale) {
    const char* names[] = {"de_DE.UTF-8",         "de_DE.utf8", "de_DE",
                           "German_Germany.1252", "German",     "de-DE"};
    const char* chosen = nullptr;
    for (const char* name : names) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) {
        const char* needed = std::getenv("PW_NEEDS_GERMAN_LOCALE");
        if (needed != nullptr && std::string_view(needed) == "1") {
            FAIL() << "no German locale can be set";
        }
        GTEST_SKIP() << "no German locale can be set: none was generated into the build "
                        "folder (localedef needs Debian's locales package) and the host has none";
    }
    EXPECT_STREQ(std::localeconv()->decimal_point, ",") << chosen;
    check_typed_cases();
    std::setlocale(LC_ALL, "C");
}

// Every double that is not a number or lies outside [-2^63, 2^63) gives the smallest
// integer; just inside, the conversion is exact.
TEST(typed_answer, choice_at_the_range_edges) {
    const double two_63 = 9223372036854775808.0;
    EXPECT_EQ(to_choice(std::nextafter(two_63, 0.0)), 9223372036854774784);
    EXPECT_EQ(to_choice(two_63), no_choice);
    EXPECT_EQ(to_choice(-two_63), no_choice);  // in range, and the same integer
    EXPECT_EQ(to_choice(std::nextafter(-two_63, -infinity)), no_choice);
    EXPECT_EQ(to_choice(std::numeric_limits<double>::max()), no_choice);
    EXPECT_EQ(to_choice(-not_a_number), no_choice);
    EXPECT_EQ(to_choice(std::numeric_limits<double>::denorm_min()), 0);
    EXPECT_EQ(to_choice(-0.0), 0);
    EXPECT_EQ(to_choice(std::nextafter(0.5, 1.0)), 1);
    EXPECT_EQ(to_choice(std::nextafter(-0.5, -1.0)), -1);
}

}  // namespace
