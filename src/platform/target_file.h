// The one game file the run works on: raw bytes at 0-based offsets, no text translation.
#pragma once

#include <cstddef>
#include <cstdint>

struct target_file {
    std::intptr_t handle = -1;  // a file descriptor or a Windows HANDLE; -1 when closed
    bool writable = false;
};

// Succeeds only for an existing regular file; never blocks on a FIFO or device.
bool open_for_reading(target_file& file, const char* name);
// Reading and writing without truncation; reading only where writing is refused.
bool open_for_update(target_file& file, const char* name);
void close_target(target_file& file);                  // harmless when nothing is open
std::uint64_t target_length(const target_file& file);  // 0 when nothing is open
// Reads count bytes at offset; false when fewer could be read.
bool read_at(const target_file& file, std::uint64_t offset, std::uint8_t* bytes, std::size_t count);
// Writes count bytes at offset and pushes them to the file at once; false when refused or short.
bool write_at(const target_file& file, std::uint64_t offset, const std::uint8_t* bytes,
              std::size_t count);
