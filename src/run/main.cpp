// pixelwarde: started in the game's folder, patches one resolution slot of the game.
#include "console.h"
#include "run.h"

int main() {
    console_open();
    const int status = run_patch(known_setup);
    console_close();
    return status;
}
