#include "mode_sources.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Scripted platform services: the records each one reports, in the platform's order.
std::vector<display_setting> settings_records;
std::vector<direct_draw_mode> direct_draw_records;
direct_draw_outcome direct_draw_answer = direct_draw_outcome::done;
int settings_readings = 0;  // enumerations begun at index 0

bool scripted_settings(std::uint32_t index, display_setting& setting) {
    if (index == 0) {
        ++settings_readings;
    }
    if (index >= settings_records.size()) {
        return false;
    }
    setting = settings_records[index];
    return true;
}

direct_draw_outcome scripted_direct_draw(direct_draw_visitor visit, void* context) {
    if (direct_draw_answer == direct_draw_outcome::missing) {
        return direct_draw_answer;
    }
    for (const direct_draw_mode& mode : direct_draw_records) {
        visit(mode, context);
    }
    return direct_draw_answer;
}

class mode_source_rules : public ::testing::Test {
protected:
    void SetUp() override {
        saved_settings = display_settings_service;
        saved_direct_draw = direct_draw_service;
        display_settings_service = scripted_settings;
        direct_draw_service = scripted_direct_draw;
        settings_records.clear();
        direct_draw_records.clear();
        direct_draw_answer = direct_draw_outcome::done;
        settings_readings = 0;
    }
    void TearDown() override {
        display_settings_service = saved_settings;
        direct_draw_service = saved_direct_draw;
    }
    display_setting_reader saved_settings = nullptr;
    direct_draw_enumerator saved_direct_draw = nullptr;
};

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

TEST_F(mode_source_rules, display_settings_by_depth) {
    // One size per depth, a repeat at another refresh rate, and a size offered only at 24 bits.
    settings_records = {{32, 1920, 1080}, {8, 640, 480},    {15, 800, 600}, {16, 1024, 768},
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
        EXPECT_EQ(text_of(gdi_modes(c.depth)), c.gdi);
        EXPECT_EQ(text_of(open_gl_modes(c.depth)), c.opengl);
    }
    settings_records.clear();
    EXPECT_EQ(text_of(gdi_modes(32)), "") << "no setting is an empty answer, not nothing";
}

TEST_F(mode_source_rules, direct_draw_by_depth_and_green_mask) {
    direct_draw_records = {{32, 0xFF00, 1920, 1080}, {16, 0x3E0, 800, 600},
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
        EXPECT_EQ(text_of(direct_x_modes(c.depth)), c.modes);
    }
}

TEST_F(mode_source_rules, direct_draw_failure_drops_its_modes) {
    direct_draw_records = {{32, 0xFF00, 1920, 1080}};
    for (direct_draw_outcome outcome :
         {direct_draw_outcome::failed, direct_draw_outcome::missing}) {
        direct_draw_answer = outcome;
        EXPECT_EQ(text_of(direct_x_modes(32)), "nothing");
    }
}

TEST_F(mode_source_rules, list_at_32_joins_direct_draw_and_display_settings) {
    settings_records = {
        {32, 1920, 1080}, {32, 1920, 1080}, {24, 1280, 1024}, {16, 800, 600}, {32, 1024, 768}};
    direct_draw_records = {
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
        direct_draw_answer = c.direct_draw;
        settings_readings = 0;
        const mode_table table = take_display_mode_list();
        EXPECT_EQ(text_of(table), c.modes);
        EXPECT_EQ(settings_readings, 2) << "GDI and OpenGL share one reading per build";
    }
}

}  // namespace
