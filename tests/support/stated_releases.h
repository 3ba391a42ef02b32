// The releases as the tests state them (tests/releases.txt), written down apart from the
// tool's own table, for the tests that hold that table against them and make game files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct stated_release {
    std::string file_name;
    std::uint64_t length = 0;
    std::uint64_t slot_table = 0;
    std::uint64_t guard = 0;
    std::string length_message;
    std::string altered_message;
    bool prints_digests = false;
};

struct stated_releases {
    std::vector<stated_release> releases;  // in the order the tool tries them
    std::vector<std::string> header_texts;
    std::vector<std::string> guard_texts;
    std::string error;  // why the file did not read; empty when it did
};

// Reads tests/releases.txt. A release that lacks a field or a line that does not read leaves
// error set, so that no release is ever half read.
stated_releases read_stated_releases();
