// Prints the run's display mode list, one WIDTHxHEIGHT a line, then the count.
// "--xrandr-library NAME" opens NAME in place of the XRandR library.
#include <cstdio>
#include <cstring>

#include "display_settings.h"
#include "mode_list.h"

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--xrandr-library") == 0) {
        xrandr_library_name = argv[2];
    }
    const mode_table table = take_display_mode_list();
    for (std::size_t row = 1; row < table.rows.size(); ++row) {
        std::printf("%llux%llu\n", static_cast<unsigned long long>(table.rows[row][1]),
                    static_cast<unsigned long long>(table.rows[row][2]));
    }
    std::printf("count %lld\n", static_cast<long long>(table.count));
    return 0;
}
