// The host's display modes, as the two Windows services report them: the display settings of
// the current display device by index, and DirectDraw's mode enumeration. On Linux the X
// server (XRandR) stands in for the display settings and the kernel's connectors for DirectDraw.
#pragma once

#include <cstdint>

struct display_setting {
    std::uint32_t bits_per_pixel = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// The setting at mode index `index` of the current display device; false past the last one.
// Index 0 reads the device's modes afresh, later indexes read from that reading.
bool read_display_setting(std::uint32_t index, display_setting& setting);

struct direct_draw_mode {
    std::uint32_t bit_count = 0;  // pixel format bit count
    std::uint32_t green_mask = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

enum class direct_draw_outcome {
    done,     // every mode was handed to the visitor
    failed,   // the enumeration reported failure; the modes handed out so far do not count
    missing,  // the service could not be reached at all; no mode was handed out
};

using direct_draw_visitor = void (*)(const direct_draw_mode& mode, void* context);

// Hands every display mode DirectDraw offers to `visit`, in the order reported.
direct_draw_outcome enumerate_direct_draw_modes(direct_draw_visitor visit, void* context);

// Linux only, so tests can point the body at other files: the folder holding the kernel's
// display connectors, and the X libraries opened at run time.
extern const char* drm_class_folder;
extern const char* x11_library_name;
extern const char* xrandr_library_name;
