// Settable places for the Linux display body: linked in place of the product's fixed ones
// by the display tests and the display probe.
#pragma once

#include "display_settings_linux.h"

// Starts as the product's places; whatever is changed here the next reading uses.
linux_display_places& settable_display_places();
