// The releases as the tests state them (tests/releases.txt), written down apart from the
// tool's own table, for the tests that hold that table against them and make game files.
// tests/releases.py reads the file and writes these tables when the tests are built.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

struct stated_release {
    std::string_view file_name;
    std::uint64_t length;
    std::uint64_t slot_table;
    std::uint64_t guard;
    std::string_view length_message;
    std::string_view altered_message;
    bool prints_digests;
};

extern const std::span<const stated_release> stated_releases;  // in the order the tool tries
extern const std::span<const std::string_view> stated_header_texts;
extern const std::span<const std::string_view> stated_guard_texts;
