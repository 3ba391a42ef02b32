// Where the Linux display body looks: the folder holding the kernel's display connectors, and
// the X libraries it opens at run time. The product uses the fixed places
// (display_places_linux.cpp); tests and the display probe link settable places of their own,
// starting from the same, in place of that file.
#pragma once

struct linux_display_places {
    const char* drm_class_folder;
    const char* xcb_library;
    const char* xcb_randr_library;
};

inline constexpr linux_display_places fixed_display_places = {"/sys/class/drm", "libxcb.so.1",
                                                              "libxcb-randr.so.0"};

const linux_display_places& display_places();
