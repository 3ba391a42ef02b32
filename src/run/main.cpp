// pixelwarde: started in the game's folder, patches one resolution slot of the game.
#include "console.h"
#include "run.h"

int main() {
    // First of all: a closed standard stream must not become the game file.
    if (!console_fill_closed_streams()) {
        return 1;
    }
    console_open();
    const int status = run_patch(known_setup);
    console_close();
    return status;
}
