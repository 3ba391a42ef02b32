// Prints the run's display mode list, one WIDTHxHEIGHT a line, then the count.
//   --depth N               the list at N bits per pixel, entry by entry, in place of the run's
//   --randr-library NAME    opens NAME in place of libxcb-randr
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display_places.h"
#include "display_settings.h"
#include "mode_list.h"

int main(int argc, char** argv) {
    // As the tool does from its start: an X server that leaves while it is written to must
    // cost the modes, not the process.
    std::signal(SIGPIPE, SIG_IGN);
    std::int32_t depth = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--randr-library") == 0) {
            settable_display_places().xcb_randr_library = argv[i + 1];
        } else if (std::strcmp(argv[i], "--depth") == 0) {
            depth = static_cast<std::int32_t>(std::atoi(argv[i + 1]));
        }
    }
    long long count = 0;
    if (depth > 0) {
        for (packed_mode mode = list_display_modes(depth); mode != 0;
             mode = list_display_modes(0)) {
            std::printf("%dx%d\n", mode >> 16, mode & 0xFFFF);
            ++count;
        }
        release_display_services();
    } else {
        const mode_table table = take_display_mode_list();
        for (std::size_t row = 1; row < table.rows.size(); ++row) {
            std::printf("%llux%llu\n", static_cast<unsigned long long>(table.rows[row][1]),
                        static_cast<unsigned long long>(table.rows[row][2]));
        }
        count = table.count;
    }
    std::printf("count %lld\n", count);
    return 0;
}
