// The host's display modes, as the two Windows services report them: the display settings of
// the current display device by index, and DirectDraw's mode enumeration. On Linux the X
// server (RandR) stands in for the display settings and the kernel's connectors for DirectDraw.
#pragma once

#include <cstdint>
#include <vector>

struct display_setting {
    std::uint32_t bits_per_pixel = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

struct direct_draw_mode {
    std::uint32_t bit_count = 0;  // pixel format bit count
    std::uint32_t green_mask = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

enum class direct_draw_outcome {
    done,     // every mode was reported
    failed,   // the enumeration reported failure; the modes reported so far do not count
    missing,  // the service could not be reached at all; no mode was reported
};

// One reading of both services, each in the platform's order.
struct display_reading {
    std::vector<display_setting> settings;
    direct_draw_outcome direct_draw = direct_draw_outcome::missing;
    std::vector<direct_draw_mode> direct_draw_modes;
};

// Asks both services for their modes afresh. A service that is missing leaves its part
// empty; a DirectDraw enumeration that fails keeps what it reported before, which does not
// count (direct_draw_outcome). The first reading opens what the services need and keeps it
// for the next ones: the DirectDraw object on Windows, the X connection and the list of the
// kernel's connectors on Linux.
void read_display_services(display_reading& reading);

// Lets go of whatever the readings kept open; the next reading opens it again.
void release_display_services();
