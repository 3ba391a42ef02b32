#include "display_places.h"

linux_display_places& settable_display_places() {
    static linux_display_places places = fixed_display_places;
    return places;
}

const linux_display_places& display_places() { return settable_display_places(); }
