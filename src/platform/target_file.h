// The one game file the run works on: raw bytes at 0-based offsets, no text translation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct target_file {
    std::intptr_t handle = -1;  // a file descriptor or a Windows HANDLE; -1 when closed
    bool writable = false;
};

// Succeeds only for an existing regular file; never blocks on a FIFO or device.
bool open_for_reading(target_file& file, const char* name);
// Opens for reading, as open_for_reading does, the file that name stands for in the current
// folder, and sets opened to the name it was opened under: name itself when that opens.
// Where file names tell case apart (POSIX) it is else the first name, in byte order, that
// equals name when ASCII case is ignored and opens, as the game's own system would find it.
bool open_for_reading_any_case(target_file& file, const char* name, std::string& opened);
// Reading and writing without truncation; reading only where writing is refused. Where the
// system allows it (Windows), nobody else may write, rename or delete the file while it is
// open for writing.
bool open_for_update(target_file& file, const char* name);
// False when the system reported an error on closing, which can mean that written bytes
// never reached the file. True when nothing was open.
[[nodiscard]] bool close_target(target_file& file);
std::uint64_t target_length(const target_file& file);  // 0 when nothing is open
// Reads count bytes at offset; false when fewer could be read.
bool read_at(const target_file& file, std::uint64_t offset, std::uint8_t* bytes, std::size_t count);
// Writes count bytes at offset. Returns how many were written before the system refused
// the rest: count when all went, 0 when nothing did.
[[nodiscard]] std::size_t write_at(const target_file& file, std::uint64_t offset,
                                   const std::uint8_t* bytes, std::size_t count);
// Pushes the written bytes through to the medium; false when the system could not.
[[nodiscard]] bool flush_target(const target_file& file);
// Whether name still names the open file: false once it was renamed away, replaced or
// deleted since it was opened.
[[nodiscard]] bool still_named(const target_file& file, const char* name);
