// The real Windows services, judged by what any display offers: Wine without an X display
// answers through its null driver. The reading must hold the current display mode, plausible
// pixel formats, and DirectDraw's sizes must be display settings' sizes as well.
#include "display_settings.h"
#include "mode_list.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <utility>
#include <vector>

namespace {

using size_pair = std::pair<std::uint64_t, std::uint64_t>;

bool running_under_wine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

size_pair current_size() {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    if (EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode) == 0) {
        return {0, 0};
    }
    return {mode.dmPelsWidth, mode.dmPelsHeight};
}

void print_reading(const display_reading& reading) {
    std::printf("display settings: %zu\n", reading.settings.size());
    for (const display_setting& s : reading.settings) {
        std::printf("  %u bits %ux%u\n", s.bits_per_pixel, s.width, s.height);
    }
    std::printf("DirectDraw (outcome %d): %zu\n", static_cast<int>(reading.direct_draw),
                reading.direct_draw_modes.size());
    for (const direct_draw_mode& m : reading.direct_draw_modes) {
        std::printf("  %u bits (green %#x) %ux%u\n", m.bit_count, m.green_mask, m.width, m.height);
    }
}

TEST(real_display_services, reading_holds_plausible_modes_and_the_current_one) {
    display_reading reading;
    read_display_services(reading);
    print_reading(reading);
    const size_pair current = current_size();
    std::printf("current mode: %llux%llu\n", static_cast<unsigned long long>(current.first),
                static_cast<unsigned long long>(current.second));
    ASSERT_NE(current.first, 0u) << "no current display mode";

    ASSERT_FALSE(reading.settings.empty());
    std::set<size_pair> setting_sizes;
    bool current_listed = false;
    for (const display_setting& s : reading.settings) {
        EXPECT_TRUE(s.bits_per_pixel == 8 || s.bits_per_pixel == 16 || s.bits_per_pixel == 24 ||
                    s.bits_per_pixel == 32)
            << s.bits_per_pixel;
        EXPECT_GT(s.width, 0u);
        EXPECT_GT(s.height, 0u);
        setting_sizes.insert({s.width, s.height});
        current_listed = current_listed || size_pair{s.width, s.height} == current;
    }
    EXPECT_TRUE(current_listed) << "the current mode is not among the display settings";

    ASSERT_EQ(reading.direct_draw, direct_draw_outcome::done) << "DirectDraw did not answer";
    ASSERT_FALSE(reading.direct_draw_modes.empty());
    for (const direct_draw_mode& m : reading.direct_draw_modes) {
        switch (m.bit_count) {
            case 8:
                break;
            case 16:
                EXPECT_TRUE(m.green_mask == 0x7E0u || m.green_mask == 0x3E0u) << m.green_mask;
                break;
            case 24:
            case 32:
                EXPECT_EQ(m.green_mask, 0xFF00u);
                break;
            default:
                ADD_FAILURE() << "bit count " << m.bit_count;
        }
        EXPECT_EQ(setting_sizes.count({m.width, m.height}), 1u)
            << m.width << "x" << m.height << " offered by DirectDraw only";
    }

    // A second reading replaces the first rather than adding to it.
    display_reading again = reading;
    read_display_services(again);
    EXPECT_EQ(again.settings.size(), reading.settings.size());
    EXPECT_EQ(again.direct_draw_modes.size(), reading.direct_draw_modes.size());
    release_display_services();
}

// Both passes of a run ask the DirectDraw object that the first reading made; after the
// release the next reading makes a new one, and a release with nothing held is harmless.
TEST(real_display_services, direct_draw_answers_every_reading_across_releases) {
    release_display_services();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> first;
    for (int reading_number = 1; reading_number <= 4; ++reading_number) {
        display_reading reading;
        read_display_services(reading);
        ASSERT_EQ(reading.direct_draw, direct_draw_outcome::done) << "reading " << reading_number;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
        for (const direct_draw_mode& m : reading.direct_draw_modes) {
            sizes.emplace_back(m.width, m.height);
        }
        if (reading_number == 1) {
            first = sizes;
            ASSERT_FALSE(first.empty());
        }
        EXPECT_EQ(sizes, first) << "reading " << reading_number;
        if (reading_number == 2) {
            release_display_services();
            release_display_services();
        }
    }
    release_display_services();
}

TEST(real_display_services, list_at_32_is_sorted_distinct_and_holds_the_current_mode) {
    const mode_table table = take_display_mode_list();
    std::vector<size_pair> listed;
    for (std::size_t row = 1; row < table.rows.size(); ++row) {
        listed.emplace_back(table.rows[row][1], table.rows[row][2]);
    }
    ASSERT_EQ(static_cast<std::size_t>(table.count), listed.size());
    EXPECT_TRUE(std::adjacent_find(listed.begin(), listed.end(), std::greater_equal<>()) ==
                listed.end())
        << "not strictly ascending by width, then height";
    EXPECT_TRUE(std::find(listed.begin(), listed.end(), current_size()) != listed.end());

    // Wine without an X display answers through its null display driver, which offers these
    // three sizes at 16 and 32 bits per pixel.
    if (running_under_wine() && GetEnvironmentVariableA("DISPLAY", nullptr, 0) == 0) {
        EXPECT_EQ(listed, (std::vector<size_pair>{{640, 480}, {800, 600}, {1024, 768}}));
    }
}

}  // namespace
