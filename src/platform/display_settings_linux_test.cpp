// The kernel's connector mode lists, read from a small copy of the drm class folder.
#include "display_places.h"
#include "display_settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct fixture_file {
    const char* path;
    const char* text;
};

// The X server is kept out of these tests: without DISPLAY it is never asked.
class no_display : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        had_display = display != nullptr;
        saved_display = had_display ? display : "";
        unsetenv("DISPLAY");
    }
    void TearDown() override {
        release_display_services();
        if (had_display) {
            setenv("DISPLAY", saved_display.c_str(), 1);
        }
    }
    bool had_display = false;
    std::string saved_display;
};

class kernel_modes : public no_display {
protected:
    void SetUp() override {
        no_display::SetUp();
        char name[] = "/tmp/pw-drm-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root = name;
        saved_folder = settable_display_places().drm_class_folder;
        settable_display_places().drm_class_folder = root.c_str();
    }
    void TearDown() override {
        settable_display_places().drm_class_folder = saved_folder;
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            std::remove(it->c_str());
        }
        rmdir(root.c_str());
        no_display::TearDown();
    }

    void make(const std::vector<fixture_file>& files) {
        for (const fixture_file& file : files) {
            const std::string path = root + "/" + file.path;
            // Folders on the way, each made once.
            for (std::size_t slash = path.find('/', root.size() + 1); slash != std::string::npos;
                 slash = path.find('/', slash + 1)) {
                const std::string folder = path.substr(0, slash);
                if (mkdir(folder.c_str(), 0700) == 0) {
                    made.push_back(folder);
                }
            }
            std::FILE* out = std::fopen(path.c_str(), "wb");
            ASSERT_NE(out, nullptr) << path;
            std::fputs(file.text, out);
            std::fclose(out);
            made.push_back(path);
        }
    }

    // Every mode read as "bits/green WxH", or the outcome when it is not done. Each visit is
    // a run of its own unless within_run.
    static std::string visited(bool within_run = false) {
        display_reading reading;
        read_display_services(reading);
        if (!within_run) {
            release_display_services();
        }
        if (reading.direct_draw == direct_draw_outcome::failed) {
            return "failed";
        }
        if (reading.direct_draw == direct_draw_outcome::missing) {
            return "missing";
        }
        std::string text;
        for (const direct_draw_mode& mode : reading.direct_draw_modes) {
            char line[64];
            std::snprintf(line, sizeof line, "%u/%#x %ux%u;", mode.bit_count, mode.green_mask,
                          mode.width, mode.height);
            text += line;
        }
        return text;
    }

    std::string root;
    const char* saved_folder = nullptr;
    std::vector<std::string> made;
};

TEST_F(kernel_modes, connected_connectors_give_their_modes_in_order) {
    make({
        {"card0/dev", "226:0\n"},
        {"card0-DP-1/status", "disconnected\n"},
        {"card0-DP-1/modes", "3840x2160\n"},
        {"card0-HDMI-A-1/status", "connected\n"},
        {"card0-HDMI-A-1/modes", "1920x1080\n1280x720\n1920x1080i\n\nbogus\n720x576\n"},
        {"card0-eDP-1/status", "connected\n"},
        {"card0-eDP-1/modes", ""},
        {"card1-VGA-1/status", "connected"},
        {"card1-VGA-1/modes", "1024x768"},
        {"version", "drm 1.1.0 20060810\n"},
    });
    EXPECT_EQ(visited(),
              "32/0xff00 1920x1080;32/0xff00 1280x720;32/0xff00 1920x1080;32/0xff00 720x576;"
              "32/0xff00 1024x768;");
}

// Within a run the folder is listed once, but each reading takes the connectors' modes anew.
TEST_F(kernel_modes, folder_listed_once_a_run_modes_read_by_every_reading) {
    make({{"card0-DP-1/status", "connected\n"}, {"card0-DP-1/modes", "1024x768\n"}});
    EXPECT_EQ(visited(true), "32/0xff00 1024x768;");
    make({{"card0-DP-1/modes", "1280x720\n"},
          {"card0-HDMI-A-1/status", "connected\n"},
          {"card0-HDMI-A-1/modes", "1920x1080\n"}});
    EXPECT_EQ(visited(true), "32/0xff00 1280x720;") << "a connector listed after the first reading";
    release_display_services();
    EXPECT_EQ(visited(), "32/0xff00 1280x720;32/0xff00 1920x1080;") << "the next run lists anew";
}

TEST_F(kernel_modes, unreadable_or_absent_lists_give_nothing) {
    EXPECT_EQ(visited(), "") << "an empty drm folder";

    make({{"card0-HDMI-A-1/status", "connected\n"}});
    EXPECT_EQ(visited(), "failed") << "a connected connector without a modes file";

    const std::string gone = root + "/absent";
    settable_display_places().drm_class_folder = gone.c_str();
    EXPECT_EQ(visited(), "missing");
    settable_display_places().drm_class_folder = root.c_str();
}

TEST_F(no_display, gives_no_setting_and_reads_afresh_each_time) {
    display_reading reading;
    reading.settings.assign(3, {32, 640, 480});  // left over from an earlier reading
    read_display_services(reading);
    EXPECT_TRUE(reading.settings.empty());
    read_display_services(reading);
    EXPECT_TRUE(reading.settings.empty());
}

}  // namespace
