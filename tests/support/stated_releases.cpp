#include "stated_releases.h"

#include <charconv>
#include <fstream>
#include <string_view>

namespace {

bool read_number(std::string_view text, std::uint64_t& number) {
    int base = 10;
    if (text.starts_with("0x")) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, base);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// The fields a release has read so far, one bit each.
enum field_bit : unsigned {
    length_bit = 1,
    slot_table_bit = 2,
    guard_bit = 4,
    length_message_bit = 8,
    altered_message_bit = 16,
    prints_digests_bit = 32,
    all_fields = 63
};

// Marks a field read; false when it was read before.
bool first_time(unsigned& seen, field_bit bit) {
    const bool first = (seen & bit) == 0;
    seen |= bit;
    return first;
}

// Reads one indented line into the release; false when it does not read.
bool read_field(std::string_view key, std::string_view value, stated_release& release,
                unsigned& seen) {
    struct number_field {
        std::string_view key;
        std::uint64_t stated_release::*field;
        field_bit bit;
    };
    const number_field numbers[] = {{"length", &stated_release::length, length_bit},
                                    {"slot_table", &stated_release::slot_table, slot_table_bit},
                                    {"guard", &stated_release::guard, guard_bit}};
    for (const number_field& n : numbers) {
        if (key == n.key) {
            return first_time(seen, n.bit) && read_number(value, release.*n.field);
        }
    }
    if (key == "length_message") {
        release.length_message = value;
        return first_time(seen, length_message_bit);
    }
    if (key == "altered_message") {
        release.altered_message = value;
        return first_time(seen, altered_message_bit);
    }
    if (key == "prints_digests") {
        release.prints_digests = value == "yes";
        return first_time(seen, prints_digests_bit) && (value == "yes" || value == "no");
    }
    return false;
}

}  // namespace

stated_releases read_stated_releases() {
    stated_releases stated;
    std::ifstream in(PW_RELEASES_FILE);
    if (!in) {
        stated.error = "cannot open " PW_RELEASES_FILE;
        return stated;
    }
    unsigned seen = all_fields;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::string where = "line " + std::to_string(number) + ": ";
        std::string_view rest = line;
        if (rest.ends_with('\r')) {
            rest.remove_suffix(1);
        }
        const bool indented = rest.starts_with(' ');
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos || rest[start] == '#') {
            continue;
        }
        rest.remove_prefix(start);
        const std::size_t blank = rest.find(' ');
        const std::string_view key = rest.substr(0, blank);
        const std::string_view value =
            blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
        if (value.empty()) {
            stated.error = where + "no value";
            return stated;
        }
        if (indented) {
            if (stated.releases.empty() || !read_field(key, value, stated.releases.back(), seen)) {
                stated.error = where + "does not read";
                return stated;
            }
            continue;
        }
        if (seen != all_fields) {
            stated.error = where + "the release before lacks a field";
            return stated;
        }
        if (key == "release") {
            stated.releases.push_back({});
            stated.releases.back().file_name = value;
            seen = 0;
        } else if (key == "header_text") {
            stated.header_texts.emplace_back(value);
        } else if (key == "guard_text") {
            stated.guard_texts.emplace_back(value);
        } else {
            stated.error = where + "unknown key";
            return stated;
        }
    }
    if (seen != all_fields) {
        stated.error = "the last release lacks a field";
    }
    return stated;
}
