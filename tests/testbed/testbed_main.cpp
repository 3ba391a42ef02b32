// pixelwarde-testbed: the same run, accepting one more guard text, the digest text of the
// 18 bytes "pixelwarde-testbed", so that synthetic game files pass the checks.
#include <string>
#include <string_view>
#include <vector>

#include "console.h"
#include "digest.h"
#include "run.h"

int main() {
    // First of all: a closed standard stream must not become the game file.
    if (!console_fill_closed_streams()) {
        return 1;
    }
    console_open();
    const std::string testbed_text = digest_text("pixelwarde-testbed");
    std::vector<std::string_view> guard_texts(known_setup.guard_texts.begin(),
                                              known_setup.guard_texts.end());
    guard_texts.push_back(testbed_text);
    run_setup setup = known_setup;
    setup.guard_texts = guard_texts;
    const int status = run_patch(setup);
    console_close();
    return status;
}
