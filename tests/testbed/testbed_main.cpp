// pixelwarde-testbed: the same run, accepting one more guard text, the digest text of the
// 18 bytes "pixelwarde-testbed", so that synthetic game files pass the checks.
#include <string>
#include <string_view>

#include "console.h"
#include "digest.h"
#include "run.h"

int main() {
    console_open();
    const std::string testbed_text = digest_text("pixelwarde-testbed");
    const std::string_view guard_texts[3] = {game_guard_texts[0], game_guard_texts[1],
                                             testbed_text};
    const run_setup setup = {game_targets, game_header_texts, guard_texts};
    const int status = run_patch(setup);
    console_close();
    return status;
}
