#include "mode_sources.h"

#include <gtest/gtest.h>

#include <string>

namespace {

template <typename number>
void add_size(std::string& text, number width, number height) {
    if (!text.empty()) {
        text += ' ';
    }
    text += std::to_string(width);
    text += 'x';
    text += std::to_string(height);
}

std::string text_of(const std::optional<std::vector<packed_mode>>& modes) {
    if (!modes) {
        return "nothing";
    }
    std::string text;
    for (packed_mode mode : *modes) {
        add_size(text, mode >> 16, mode & 0xFFFF);
    }
    return text;
}

std::string text_of(const mode_table& table) {
    std::string text;
    for (std::size_t row = 1; row < table.rows.size(); ++row) {
        add_size(text, table.rows[row][1], table.rows[row][2]);
    }
    return text;
}

TEST(mode_source_rules, display_settings_by_depth) {
    // One size per depth, a repeat at another refresh rate, and a size offered only at 24 bits.
    display_reading reading;
    reading.settings = {{32, 1920, 1080}, {8, 640, 480},    {15, 800, 600}, {16, 1024, 768},
                        {24, 1280, 1024}, {32, 1920, 1080}, {4, 320, 200},  {32, 1600, 900}};
    struct case_ {
        std::int32_t depth;
        const char* gdi;
        const char* opengl;
    };
    const case_ cases[] = {
        {32, "1920x1080 1280x1024 1920x1080 1600x900", "1920x1080 1920x1080 1600x900"},
        {24, "1920x1080 1280x1024 1920x1080 1600x900", "1280x1024"},
        {16, "800x600 1024x768", "1024x768"},
        {15, "800x600 1024x768", "800x600"},
        {8, "640x480", "640x480"},
        {4, "320x200", "320x200"},
        {1, "", ""},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE("depth " + std::to_string(c.depth));
        EXPECT_EQ(text_of(gdi_modes(reading, c.depth)), c.gdi);
        EXPECT_EQ(text_of(open_gl_modes(reading, c.depth)), c.opengl);
    }
    reading.settings.clear();
    EXPECT_EQ(text_of(gdi_modes(reading, 32)), "") << "no setting is an empty answer, not nothing";
}

TEST(mode_source_rules, direct_draw_by_depth_and_green_mask) {
    display_reading reading;
    reading.direct_draw = direct_draw_outcome::done;
    reading.direct_draw_modes = {{32, 0xFF00, 1920, 1080}, {16, 0x3E0, 800, 600},
                                 {16, 0x7E0, 1024, 768},   {16, 0x3E0, 1280, 720},
                                 {24, 0xFF00, 1280, 1024}, {32, 0xFF00, 1920, 1080},
                                 {15, 0x3E0, 640, 480},    {8, 0, 320, 240}};
    struct case_ {
        std::int32_t depth;
        const char* modes;
    };
    const case_ cases[] = {
        {32, "1920x1080 1920x1080"},      {24, "1280x1024"}, {16, "1024x768"},
        {15, "800x600 1280x720 640x480"}, {8, "320x240"},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE("depth " + std::to_string(c.depth));
        EXPECT_EQ(text_of(direct_x_modes(reading, c.depth)), c.modes);
    }

    // Failure drops what was reported before it.
    for (direct_draw_outcome outcome :
         {direct_draw_outcome::failed, direct_draw_outcome::missing}) {
        reading.direct_draw = outcome;
        EXPECT_EQ(text_of(direct_x_modes(reading, 32)), "nothing");
    }
}

// The whole list from scripted platform readings: the run's sources over the table.
display_reading scripted;

void scripted_reading(display_reading& reading) { reading = scripted; }

TEST(mode_source_rules, list_at_32_joins_direct_draw_and_display_settings) {
    const display_services_reading saved = read_display_for_build;
    read_display_for_build = scripted_reading;
    scripted.settings = {
        {32, 1920, 1080}, {32, 1920, 1080}, {24, 1280, 1024}, {16, 800, 600}, {32, 1024, 768}};
    scripted.direct_draw_modes = {
        {32, 0xFF00, 2560, 1440}, {32, 0xFF00, 1024, 768}, {16, 0x7E0, 640, 480}};
    struct case_ {
        direct_draw_outcome direct_draw;
        const char* modes;
    };
    const case_ cases[] = {
        {direct_draw_outcome::done, "1024x768 1280x1024 1920x1080 2560x1440"},
        {direct_draw_outcome::failed, "1024x768 1280x1024 1920x1080"},
        {direct_draw_outcome::missing, "1024x768 1280x1024 1920x1080"},
    };
    for (const case_& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.direct_draw));
        scripted.direct_draw = c.direct_draw;
        EXPECT_EQ(text_of(take_display_mode_list()), c.modes);
    }
    read_display_for_build = saved;
}

}  // namespace
