// The places the tool itself uses. Kept apart from the display body so that a test program
// can link places of its own instead.
#include "display_settings_linux.h"

const linux_display_places& display_places() {
    static const linux_display_places fixed = {"/sys/class/drm", "libxcb.so.1",
                                               "libxcb-randr.so.0"};
    return fixed;
}
