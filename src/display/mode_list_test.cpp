#include "mode_list.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <utility>

namespace {

using mode_sequence = std::optional<std::vector<packed_mode>>;

// What each scripted source answers at 32 bits per pixel, by the platform reading it is given:
// answers[source][k - 1] for the k-th reading of the test. Past the script, and at any other
// depth, a source has nothing; so a build that the passes should not make, or one at the wrong
// depth, or sources that each read the platform, shows in what is listed.
struct source_script {
    std::array<std::vector<mode_sequence>, mode_source_count> answers;
    std::uint32_t platform_readings = 0;
};

source_script script;

// Stands in for the platform: marks each reading with its number, as the one setting's height.
void scripted_reading(display_reading& reading) {
    ++script.platform_readings;
    reading.settings.assign(1, {32, 1, script.platform_readings});
}

std::uint32_t reading_number(const display_reading& reading) {
    return reading.settings.empty() ? 0 : reading.settings[0].height;
}

template <std::size_t source>
mode_sequence scripted_source(const display_reading& reading, std::int32_t depth) {
    const std::vector<mode_sequence>& answers = script.answers[source];
    const std::uint32_t reading_index = reading_number(reading) - 1;
    if (depth != 32 || reading_index >= answers.size()) {
        return std::nullopt;
    }
    return answers[reading_index];
}

// Answers a mode that names the source, the depth and the reading: 640 + source wide, and
// depth * 100 + the reading's number high.
template <std::size_t source>
mode_sequence naming_source(const display_reading& reading, std::int32_t depth) {
    return std::vector{
        pack_mode(640 + source, static_cast<std::uint32_t>(depth) * 100 + reading_number(reading))};
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

    // Every source answers the same sequences in each of the first builds.
    static void answer_in_builds(int builds, const mode_sequence& directx, const mode_sequence& gdi,
                                 const mode_sequence& opengl) {
        script.answers[0].assign(static_cast<std::size_t>(builds), directx);
        script.answers[1].assign(static_cast<std::size_t>(builds), gdi);
        script.answers[2].assign(static_cast<std::size_t>(builds), opengl);
    }

    mode_source saved[mode_source_count];
    display_services_reading saved_reading = nullptr;
};

// The listing from a build at the depth to its end.
std::vector<packed_mode> listed_at(std::int32_t depth) {
    std::vector<packed_mode> listed{list_display_modes(depth)};
    while (listed.back() != 0) {
        listed.push_back(list_display_modes(0));
    }
    listed.pop_back();
    return listed;
}

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
    // Nor do they build: the build below gets the first reading, which the script answers.
    // Whatever the next calls did to the cursor, that build starts at entry 1.
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
        script = source_script{};
        answer_in_builds(1, c.directx, c.gdi, c.opengl);
        EXPECT_EQ(listed_at(32), expected);
    }
}

TEST_F(mode_list, sort_keys_are_signed_width_and_unsigned_height) {
    // A width of 32768 or more packs into a negative value and so sorts first; heights of
    // 32768 or more stay above the smaller ones.
    const packed_mode wide = pack_mode(40000, 1);
    const packed_mode tall = pack_mode(1280, 65535);
    const packed_mode half = pack_mode(1280, 32768);
    answer_in_builds(3, std::vector{tall, m1280x1024, wide, half, m800x600}, std::nullopt,
                     std::nullopt);
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

    // A build that finds nothing leaves no list behind.
    EXPECT_EQ(list_display_modes(32), 0);
    EXPECT_EQ(list_display_modes(0), 0);
    EXPECT_EQ(list_display_modes(0), 0);
}

TEST_F(mode_list, every_build_asks_all_three_sources_on_one_reading_at_its_depth) {
    mode_sources[0].take = naming_source<0>;
    mode_sources[1].take = naming_source<1>;
    mode_sources[2].take = naming_source<2>;
    // Sources that each read the platform would answer 2401, 2402 and 2403 high.
    EXPECT_EQ(listed_at(24),
              (std::vector{pack_mode(640, 2401), pack_mode(641, 2401), pack_mode(642, 2401)}));
    EXPECT_EQ(listed_at(16),
              (std::vector{pack_mode(640, 1602), pack_mode(641, 1602), pack_mode(642, 1602)}));
}

TEST_F(mode_list, count_pass_counts_one_listing_at_32_to_its_end) {
    const std::vector<packed_mode> modes{m800x600, m1024x768, m1280x720};
    for (std::size_t k = 0; k <= modes.size(); ++k) {
        SCOPED_TRACE("k = " + std::to_string(k));
        script = source_script{};
        // One build's answer: a second build, or one at another depth, finds nothing.
        answer_in_builds(1,
                         std::vector(modes.begin(), modes.begin() + static_cast<std::ptrdiff_t>(k)),
                         std::nullopt, std::nullopt);
        EXPECT_EQ(count_display_modes(), static_cast<std::int64_t>(k));
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
        // The first build's answer and the second's; a third build would find nothing.
        script.answers[1] = {c.counted, c.filled};
        EXPECT_EQ(describe(take_display_mode_list()), c.table);
    }
}

TEST_F(mode_list, fill_pass_builds_and_writes_only_the_rows_it_is_given) {
    // A listing read to its end, then the fill pass with row 0 alone.
    script.answers[0] = {std::vector{m1920x1080}, std::vector{m800x600, m1024x768, m1280x720}};
    listed_at(32);
    mode_table table;
    table.rows.assign(1, {0, 0, 0});
    fill_display_modes(table);
    EXPECT_EQ(describe(table), "0: 0/0x0");
    // Entry 2 of a fresh build comes next: the fill pass built, with no row to fill, and
    // handed out entry 1 alone.
    EXPECT_EQ(list_display_modes(0), m1024x768);
}

}  // namespace
