// The machine's display modes at one colour depth: gathered from the mode sources,
// merged without repeats, sorted by width and then height, handed out one at a time.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "display_settings.h"

// (width << 16) | height in 32-bit arithmetic; 0 marks the end of a listing.
using packed_mode = std::int32_t;

constexpr packed_mode pack_mode(std::uint32_t width, std::uint32_t height) {
    return static_cast<packed_mode>((width << 16) | height);
}

// A source picks the modes at a depth out of one reading of the platform, in the platform's
// order, or gives nothing.
using mode_source_take = std::optional<std::vector<packed_mode>> (*)(const display_reading& reading,
                                                                     std::int32_t depth);

struct mode_source {
    const char* name;
    mode_source_take take;
};

constexpr int mode_source_count = 3;
// DirectX, GDI, OpenGL, always asked in this order. Tests may replace the entries.
extern mode_source mode_sources[mode_source_count];

// Reads the platform once at the start of each build; tests put a scripted reading in its place.
using display_services_reading = void (*)(display_reading& reading);
extern display_services_reading read_display_for_build;

// depth > 0 builds a new list and returns entry 1; depth <= 0 returns the next entry.
packed_mode list_display_modes(std::int32_t depth);
std::int64_t count_display_modes();

// Rows 0 to count, columns 0 to 2; row i holds width in column 1 and height in column 2.
struct mode_table {
    std::int64_t count = 0;
    std::vector<std::array<std::uint64_t, 3>> rows;
};

// Fills rows 1 to the table's last row from a fresh build at 32 bits per pixel.
void fill_display_modes(mode_table& table);
// The count pass, then the fill pass: the run's display mode list. Lets the display services
// go afterwards.
mode_table take_display_mode_list();
