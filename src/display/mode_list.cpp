#include "mode_list.h"

#include <algorithm>
#include <limits>
#include <utility>

display_services_reading read_display_for_build = read_display_services;

namespace {

// Process-wide, held between calls; only the run's single thread touches it.
struct display_mode_list {
    std::vector<packed_mode> entries;
    std::int32_t count = 0;
    std::int32_t cursor = 0;  // 1-based position of the entry handed out last
};

display_mode_list the_list;

// Width as a signed number first, then height as an unsigned one.
bool mode_before(packed_mode a, packed_mode b) {
    const std::int32_t width_a = a >> 16;
    const std::int32_t width_b = b >> 16;
    if (width_a != width_b) {
        return width_a < width_b;
    }
    return (static_cast<std::uint32_t>(a) & 0xFFFFu) < (static_cast<std::uint32_t>(b) & 0xFFFFu);
}

packed_mode build_display_mode_list(std::int32_t depth) {
    the_list = display_mode_list{};

    display_reading reading;
    read_display_for_build(reading);
    std::vector<packed_mode> merged;
    for (const mode_source& source : mode_sources) {
        if (source.take == nullptr) {
            continue;
        }
        std::optional<std::vector<packed_mode>> found = source.take(reading, depth);
        if (found) {
            merged.insert(merged.end(), found->begin(), found->end());
        }
    }

    // The sort key tells every two distinct packed values apart, so dropping repeats after
    // sorting leaves the same list as skipping them while merging, without a quadratic search.
    std::sort(merged.begin(), merged.end(), mode_before);
    merged.erase(std::unique(merged.begin(), merged.end()), merged.end());

    the_list.entries = std::move(merged);
    the_list.count = static_cast<std::int32_t>(the_list.entries.size());
    the_list.cursor = 1;
    return the_list.count > 0 ? the_list.entries[0] : 0;
}

packed_mode next_display_mode() {
    // Stops short of overflowing; the list is long past its end by then.
    if (the_list.cursor < std::numeric_limits<std::int32_t>::max()) {
        ++the_list.cursor;
    }
    if (the_list.cursor <= the_list.count) {
        return the_list.entries[static_cast<std::size_t>(the_list.cursor - 1)];
    }
    return 0;
}

}  // namespace

packed_mode list_display_modes(std::int32_t depth) {
    return depth > 0 ? build_display_mode_list(depth) : next_display_mode();
}

std::int64_t count_display_modes() {
    std::int64_t count = 0;
    for (packed_mode mode = list_display_modes(32); mode != 0; mode = list_display_modes(0)) {
        ++count;
    }
    return count;
}

void fill_display_modes(mode_table& table) {
    packed_mode mode = list_display_modes(32);
    for (std::size_t row = 1; row < table.rows.size(); ++row) {
        // Widened with its sign: a width of 32768 or more does not survive the packing anyway.
        const auto wide = static_cast<std::uint64_t>(static_cast<std::int64_t>(mode));
        table.rows[row][1] = wide >> 16;
        table.rows[row][2] = wide & 0xFFFFu;
        mode = list_display_modes(0);
    }
}

mode_table take_display_mode_list() {
    mode_table table;
    table.count = count_display_modes();
    table.rows.assign(static_cast<std::size_t>(table.count) + 1, {0, 0, 0});
    fill_display_modes(table);
    release_display_services();
    return table;
}
