// The places the tool itself uses. Kept apart from the display body so that a test program
// can link places of its own instead.
#include "display_settings_linux.h"

const linux_display_places& display_places() { return fixed_display_places; }
