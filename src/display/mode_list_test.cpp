#include "mode_list.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

using mode_sequence = std::optional<std::vector<packed_mode>>;

// What each scripted source answers, build by build: answers[source][build], the last one
// repeated once the script runs out.
struct source_script {
    std::array<std::vector<mode_sequence>, mode_source_count> answers;
    std::array<int, mode_source_count> calls{};
    std::array<std::int32_t, mode_source_count> depths_seen{};
    int platform_readings = 0;
    const display_reading* last_reading = nullptr;
};

source_script script;

// Stands in for the platform: counts the readings and marks each one so that the sources
// can be seen to get the build's own.
void scripted_reading(display_reading& reading) {
    ++script.platform_readings;
    reading.settings.assign(1, {32, 1, static_cast<std::uint32_t>(script.platform_readings)});
    script.last_reading = &reading;
}

template <std::size_t source>
mode_sequence scripted_source(const display_reading& reading, std::int32_t depth) {
    script.depths_seen[source] = depth;
    EXPECT_EQ(&reading, script.last_reading) << "a source got another build's reading";
    EXPECT_EQ(reading.settings.empty() ? 0u : reading.settings[0].height,
              static_cast<std::uint32_t>(script.platform_readings));
    const std::vector<mode_sequence>& answers = script.answers[source];
    const int call = script.calls[source]++;
    if (answers.empty()) {
        return std::nullopt;
    }
    return answers[std::min<std::size_t>(static_cast<std::size_t>(call), answers.size() - 1)];
}

class mode_list : public ::testing::Test {
protected:
    void SetUp() override {
        std::copy(std::begin(mode_sources), std::end(mode_sources), std::begin(saved));
        saved_reading = read_display_for_build;
        script = source_script{};
        mode_sources[0].take = scripted_source<0>;
        mode_sources[1].take = scripted_source<1>;
        mode_sources[2].take = scripted_source<2>;
        read_display_for_build = scripted_reading;
    }
    void TearDown() override {
        std::copy(std::begin(saved), std::end(saved), std::begin(mode_sources));
        read_display_for_build = saved_reading;
    }

    // Every source answers the same sequences on every build.
    static void answer_always(mode_sequence directx, mode_sequence gdi, mode_sequence opengl) {
        script.answers[0] = {std::move(directx)};
        script.answers[1] = {std::move(gdi)};
        script.answers[2] = {std::move(opengl)};
    }

    mode_source saved[mode_source_count];
    display_services_reading saved_reading = nullptr;
};

std::string describe(const mode_table& table) {
    std::string text = std::to_string(table.count) + ":";
    for (const auto& row : table.rows) {
        text += ' ';
        text += std::to_string(row[0]);
        text += '/';
        text += std::to_string(row[1]);
        text += 'x';
        text += std::to_string(row[2]);
    }
    return text;
}

constexpr packed_mode m800x600 = pack_mode(800, 600);
constexpr packed_mode m1024x768 = pack_mode(1024, 768);
constexpr packed_mode m1280x720 = pack_mode(1280, 720);
constexpr packed_mode m1280x1024 = pack_mode(1280, 1024);
constexpr packed_mode m1366x768 = pack_mode(1366, 768);
constexpr packed_mode m1920x1080 = pack_mode(1920, 1080);

// The list is process-wide, so a process of its own shows the state before any build,
// whichever tests ran before in this one.
void next_calls_before_any_build() {
    bool held = true;
    for (int call = 1; call <= 3; ++call) {
        held = held && list_display_modes(0) == 0 && list_display_modes(-5) == 0;
    }
    held = held && script.platform_readings == 0;
    // Whatever the next calls did to the cursor, a build starts at entry 1.
    script.answers[0] = {std::vector{m1024x768, m800x600}};
    held = held && list_display_modes(32) == m800x600 && list_display_modes(0) == m1024x768;
    std::exit(held ? 0 : 1);
}

TEST_F(mode_list, next_before_any_build_finds_no_list_and_a_build_starts_at_one) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(next_calls_before_any_build(), ::testing::ExitedWithCode(0), "");
}

TEST_F(mode_list, merges_without_repeats_and_sorts_by_width_then_height) {
    const std::vector<packed_mode> expected{m800x600,   m1024x768, m1280x720,
                                            m1280x1024, m1366x768, m1920x1080};
    struct case_ {
        const char* name;
        mode_sequence directx, gdi, opengl;
    };
    const case_ cases[] = {
        {"one source, reversed",
         std::vector{m1920x1080, m1366x768, m1280x1024, m1280x720, m1024x768, m800x600},
         std::nullopt, std::nullopt},
        {"spread over all three with repeats, refresh rates and depths",
         std::vector{m1366x768, m1280x1024, m1366x768},
         std::vector{m1920x1080, m1280x720, m1920x1080, m1920x1080, m800x600},
         std::vector{m1024x768, m1280x1024, m800x600, m1920x1080}},
        {"first two sources empty or absent", std::nullopt, std::vector<packed_mode>{},
         std::vector{m1280x1024, m800x600, m1920x1080, m1024x768, m1366x768, m1280x720, m1280x720}},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE(c.name);
        answer_always(c.directx, c.gdi, c.opengl);
        std::vector<packed_mode> listed{list_display_modes(32)};
        while (listed.back() != 0) {
            listed.push_back(list_display_modes(0));
        }
        listed.pop_back();
        EXPECT_EQ(listed, expected);
    }
}

TEST_F(mode_list, sort_keys_are_signed_width_and_unsigned_height) {
    // A width of 32768 or more packs into a negative value and so sorts first; heights of
    // 32768 or more stay above the smaller ones.
    const packed_mode wide = pack_mode(40000, 1);
    const packed_mode tall = pack_mode(1280, 65535);
    const packed_mode half = pack_mode(1280, 32768);
    answer_always(std::vector{tall, m1280x1024, wide, half, m800x600}, std::nullopt, std::nullopt);
    EXPECT_EQ(list_display_modes(32), wide);
    EXPECT_EQ(list_display_modes(0), m800x600);
    EXPECT_EQ(list_display_modes(0), m1280x1024);
    EXPECT_EQ(list_display_modes(0), half);
    EXPECT_EQ(list_display_modes(0), tall);
    EXPECT_EQ(list_display_modes(0), 0);

    // The fill pass widens with the sign before it shifts.
    const mode_table table = take_display_mode_list();
    ASSERT_EQ(table.count, 5);
    EXPECT_EQ(table.rows[1][1], 0x0000'FFFF'FFFF'9C40u);
    EXPECT_EQ(table.rows[1][2], 1u);
    EXPECT_EQ(table.rows[5][1], 1280u);
    EXPECT_EQ(table.rows[5][2], 65535u);
}

TEST_F(mode_list, walks_listing_exhausted_and_rebuild_states) {
    script.answers[0] = {std::vector{m1024x768, m800x600}, std::vector{m1920x1080}};

    EXPECT_EQ(list_display_modes(32), m800x600);
    EXPECT_EQ(list_display_modes(0), m1024x768);
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(list_display_modes(0), 0) << "exhausted, call " << call;
    }
    // A new build gathers afresh and starts again at entry 1.
    EXPECT_EQ(list_display_modes(32), m1920x1080);
    EXPECT_EQ(list_display_modes(0), 0);
    EXPECT_EQ(script.calls[0], 2);

    // A build that finds nothing leaves no list behind.
    script.answers[0] = {};
    EXPECT_EQ(list_display_modes(32), 0);
    EXPECT_EQ(list_display_modes(0), 0);
    EXPECT_EQ(list_display_modes(0), 0);
}

TEST_F(mode_list, every_build_asks_all_three_sources_at_the_depth) {
    answer_always(std::nullopt, std::vector{m800x600}, std::nullopt);
    list_display_modes(24);
    list_display_modes(0);
    list_display_modes(16);
    for (std::size_t source = 0; source < mode_source_count; ++source) {
        EXPECT_EQ(script.calls[source], 2) << mode_sources[source].name;
        EXPECT_EQ(script.depths_seen[source], 16) << mode_sources[source].name;
    }
    EXPECT_EQ(script.platform_readings, 2) << "one platform reading per build";
}

TEST_F(mode_list, count_pass_makes_one_build_and_k_next_calls) {
    const std::vector<packed_mode> modes{m800x600, m1024x768, m1280x720};
    for (std::size_t k = 0; k <= modes.size(); ++k) {
        SCOPED_TRACE("k = " + std::to_string(k));
        script = source_script{};
        answer_always(std::vector(modes.begin(), modes.begin() + static_cast<std::ptrdiff_t>(k)),
                      std::nullopt, std::nullopt);
        EXPECT_EQ(count_display_modes(), static_cast<std::int64_t>(k));
        EXPECT_EQ(script.calls[0], 1);
        EXPECT_EQ(script.depths_seen[0], 32);
        // The count pass read the listing to its end.
        EXPECT_EQ(list_display_modes(0), 0);
    }
}

TEST_F(mode_list, take_builds_a_table_from_the_count_and_the_fill_pass) {
    struct case_ {
        const char* name;
        std::vector<packed_mode> counted, filled;
        const char* table;
    };
    const case_ cases[] = {
        {"same list twice",
         {m1024x768, m800x600},
         {m800x600, m1024x768},
         "2: 0/0x0 0/800x600 0/1024x768"},
        {"no mode at all", {}, {}, "0: 0/0x0"},
        {"fill pass finds fewer",
         {m800x600, m1024x768, m1920x1080},
         {m1366x768},
         "3: 0/0x0 0/1366x768 0/0x0 0/0x0"},
        {"fill pass finds more",
         {m800x600, m1024x768},
         {m1920x1080, m1280x720, m800x600},
         "2: 0/0x0 0/800x600 0/1280x720"},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE(c.name);
        script = source_script{};
        script.answers[1] = {c.counted, c.filled};
        EXPECT_EQ(describe(take_display_mode_list()), c.table);
        EXPECT_EQ(script.calls[1], 2) << "one build per pass";
        EXPECT_EQ(script.platform_readings, 2) << "one platform reading per pass";
    }
}

TEST_F(mode_list, fill_pass_writes_only_the_rows_it_is_given) {
    answer_always(std::vector{m800x600, m1024x768, m1280x720}, std::nullopt, std::nullopt);
    mode_table table;
    table.rows.assign(1, {0, 0, 0});
    fill_display_modes(table);
    EXPECT_EQ(describe(table), "0: 0/0x0");
    EXPECT_EQ(script.calls[0], 1) << "the fill pass builds even when it has no row to fill";
    EXPECT_EQ(list_display_modes(0), m1024x768) << "the build handed out entry 1 alone";
}

}  // namespace
