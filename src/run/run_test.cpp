// The whole run in process: a scripted console, scripted display modes and a real game
// file in a scratch folder.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "console_script.h"
#include "dialogue.h"
#include "digest.h"
#include "mode_list.h"
#include "run.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

// --- display modes the test chooses ---------------------------------------------------

std::vector<packed_mode> scripted_modes;

std::optional<std::vector<packed_mode>> scripted_source(const display_reading&, std::int32_t) {
    return scripted_modes;
}
std::optional<std::vector<packed_mode>> no_source(const display_reading&, std::int32_t) {
    return std::nullopt;
}
void no_platform_reading(display_reading&) {}

// --- a synthetic game file ------------------------------------------------------------

struct size_pair {
    std::uint32_t width;
    std::uint32_t height;
};

const size_pair default_slots[slot_count] = {{320, 240}, {400, 300},  {512, 384},  {640, 480},
                                             {800, 600}, {1024, 768}, {1152, 864}, {1280, 1024}};

void put_le32(bytes& data, std::uint64_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        data[offset + static_cast<std::uint64_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// The release's exact length, 4D 5A 90 00 at 0, the slots, "pixelwarde-testbed" at the guard.
bytes game_file(const target_row& row, const size_pair (&slots)[slot_count] = default_slots) {
    bytes data(row.required_length, 0);
    data[0] = 0x4D;
    data[1] = 0x5A;
    data[2] = 0x90;
    for (int k = 0; k < slot_count; ++k) {
        const std::uint64_t at = row.slot_table_offset + static_cast<std::uint64_t>(k) * 8;
        put_le32(data, at, slots[k].width);
        put_le32(data, at + 4, slots[k].height);
    }
    const std::string guard = "pixelwarde-testbed";
    std::copy(guard.begin(), guard.end(),
              data.begin() + static_cast<std::ptrdiff_t>(row.guard_offset));
    return data;
}

void write_file(const char* name, const bytes& data) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

bytes read_file(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs each test in a scratch folder of its own with the modes it scripts.
class run_test : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < mode_source_count; ++i) {
            saved_sources_[i] = mode_sources[i];
            mode_sources[i].take = i == 0 ? scripted_source : no_source;
        }
        saved_reading_ = read_display_for_build;
        read_display_for_build = no_platform_reading;
        scripted_modes = {pack_mode(640, 480), pack_mode(800, 600), pack_mode(1280, 1024),
                          pack_mode(1920, 1080)};
        previous_folder_ = fs::current_path();
        folder_ = fs::temp_directory_path() /
                  ("pixelwarde-run-test-" + std::to_string(std::random_device{}()));
        fs::create_directories(folder_);
        fs::current_path(folder_);
        testbed_guard_ = digest_text("pixelwarde-testbed");
        guard_texts_[0] = testbed_guard_;
        setup_ = {game_targets, game_header_texts, guard_texts_};
    }

    void TearDown() override {
        fs::current_path(previous_folder_);
        fs::remove_all(folder_);
        for (int i = 0; i < mode_source_count; ++i) {
            mode_sources[i] = saved_sources_[i];
        }
        read_display_for_build = saved_reading_;
    }

    // The whole run with these keys; returns what it wrote.
    std::string run(const std::string& keys) {
        console_script_start(script_keys(keys));
        EXPECT_EQ(run_patch(setup_), 0);
        return console_script_output();
    }

    run_setup setup_;

private:
    mode_source saved_sources_[mode_source_count];
    display_services_reading saved_reading_ = nullptr;
    fs::path previous_folder_;
    fs::path folder_;
    std::string testbed_guard_;
    std::string_view guard_texts_[1];
};

const std::string slot_listing =
    "Pixelwarde 1.2\r\n\r\n"
    "cstrike.exe gefunden!\r\n\r\n"
    "Warnung! Dieses Programm veraendert die cstrike.exe.\r\n"
    "Bitte vor Benutzung ein Backup anlegen.\r\n\r\n"
    "Welche CS-Aufloesung soll ersetzt werden?\r\n\r\n"
    "(1)  320x 240\r\n(2)  400x 300\r\n(3)  512x 384\r\n(4)  640x 480\r\n"
    "(5)  800x 600\r\n(6)  1024x 768\r\n(7)  1152x 864\r\n(8)  1280x 1024\r\n"
    "(9) ENDE\r\n\r\n"
    "Welche Aufloesung soll veraendert werden?\r\n\r\n";

const std::string mode_block_slot_3 =
    "Zu aendernder Aufloesungsslot:  512x 384\r\n"
    "Welche der verfuegbaren Aufloesungen soll verwendet werden?\r\n"
    "(1) 640x480\r\n(2) 800x600\r\n(3) 1280x1024\r\n(4) 1920x1080\r\n"
    "(5) Slot nicht veraendern\r\n";

const std::string wide_advice =
    "Bitte beachten: Fuer Wide-Screen-Aufloesungen (z. B. 16:9 oder 16:10) muss die\r\n"
    "Field-of-vision-Variable in der config.cfg korrekt gesetzt werden, ansonsten ist"
    "das Bild in die Breite verzerrt. Die Anpassung in der config.cfg lautet dann:\r\n"
    "\r\n"
    "(fuer 16:10): default_fov 100.39487232\r\n"
    "(fuer 16:9): default_fov 106.270273206\r\n"
    "\r\n"
    "Solle es sich ergeben, dass doch wieder 4:3-Aufloesungen verwendet werden, kann\r\n"
    "diese Variable durch \"//\" am Anfang wieder auskommentiert werden.\r\n"
    "Die config.cfg liegt normalerweise im Ordner \"cstrike\".\r\n";

const std::string four_to_three_advice =
    "Bitte ggf. die \"default_fov\"-Variable in der config.cfg auskommentieren.\r\n";

const std::string enter_prompt = "(Enter zum Beenden druecken)\r\n";

TEST_F(run_test, full_run_rewrites_the_chosen_slot_only) {
    const bytes before = game_file(game_targets[0]);
    write_file("cstrike.exe", before);
    // "0", "x" and an extended key at the slot choice are ignored.
    const std::string out = run(std::string("0x\xff") + "3" + "3\r" + "\r");
    EXPECT_EQ(out, slot_listing + mode_block_slot_3 + "3\r\n" + "\r\n" +
                       "Sie haben die Aufloesung 1280x1024 gewaehlt.\r\n\r\n" + wide_advice +
                       enter_prompt);
    bytes expected = before;
    const std::uint64_t slot_3 = game_targets[0].slot_table_offset + 16;
    put_le32(expected, slot_3, 1280);
    put_le32(expected, slot_3 + 4, 1024);
    EXPECT_EQ(read_file("cstrike.exe"), expected);
}

TEST_F(run_test, hl_exe_is_patched_at_its_own_slot_table) {
    const bytes before = game_file(game_targets[1]);
    write_file("hl.exe", before);
    const std::string out = run("81\r\r");
    EXPECT_NE(out.find("hl.exe gefunden!\r\n"), std::string::npos);
    EXPECT_NE(out.find("Sie haben die Aufloesung 640x480 gewaehlt."), std::string::npos);
    bytes expected = before;
    const std::uint64_t slot_8 = game_targets[1].slot_table_offset + 56;
    put_le32(expected, slot_8, 640);
    put_le32(expected, slot_8 + 4, 480);
    EXPECT_EQ(read_file("hl.exe"), expected);
}

// Typed answers and what they choose: the list has 4 modes, 5 keeps the slot.
TEST_F(run_test, typed_answers_choose_by_rounded_number) {
    struct answer_case {
        const char* typed;
        int blocks;          // how often the mode block was shown
        const char* chosen;  // the confirmation's size, or nullptr for "keep"
    };
    const answer_case cases[] = {
        {"2.5\r", 1, "800x600"},  // ties go to the even row
        {"3.5\r", 1, "1920x1080"},
        {"1,5\r", 1, "640x480"},  // the field ends at the comma
        {"  3 \r", 1, "1280x1024"},
        {"\"2,9\"\r", 1, "800x600"},
        {"5\r", 1, nullptr},
        {"0\r6\r-1\rabc\r\r1e9\r2\r", 7, "800x600"},  // out of range repeats the block
    };
    for (const answer_case& c : cases) {
        SCOPED_TRACE(c.typed);
        const bytes before = game_file(game_targets[0]);
        write_file("cstrike.exe", before);
        const std::string out = run(std::string("3") + c.typed + "\r");
        std::size_t blocks = 0;
        for (std::size_t at = out.find(mode_block_slot_3); at != std::string::npos;
             at = out.find(mode_block_slot_3, at + 1)) {
            ++blocks;
        }
        EXPECT_EQ(blocks, static_cast<std::size_t>(c.blocks));
        if (c.chosen != nullptr) {
            EXPECT_NE(out.find(std::string("Sie haben die Aufloesung ") + c.chosen + " gewaehlt."),
                      std::string::npos);
            EXPECT_NE(read_file("cstrike.exe"), before);
        } else {
            EXPECT_NE(out.find("Slot wird nicht veraendert!\r\n" + enter_prompt),
                      std::string::npos);
            EXPECT_EQ(read_file("cstrike.exe"), before);
        }
    }
}

TEST_F(run_test, advice_depends_on_exact_four_to_three) {
    struct advice_case {
        size_pair mode;
        const std::string* advice;
    };
    const advice_case cases[] = {{{1280, 1024}, &wide_advice},
                                 {{1366, 768}, &wide_advice},
                                 {{640, 480}, &four_to_three_advice},
                                 {{1600, 1200}, &four_to_three_advice}};
    for (const advice_case& c : cases) {
        SCOPED_TRACE(c.mode.width);
        scripted_modes = {pack_mode(c.mode.width, c.mode.height)};
        write_file("cstrike.exe", game_file(game_targets[0]));
        const std::string out = run("11\r\r");
        std::string expected = "Sie haben die Aufloesung ";
        expected += std::to_string(c.mode.width) + "x" + std::to_string(c.mode.height);
        expected += " gewaehlt.\r\n\r\n";
        expected += *c.advice;
        expected += enter_prompt;
        EXPECT_NE(out.find(expected), std::string::npos) << out;
    }
}

TEST_F(run_test, no_display_mode_offers_only_keeping_the_slot) {
    scripted_modes.clear();
    const bytes before = game_file(game_targets[0]);
    write_file("cstrike.exe", before);
    const std::string out =
        run("1"
            "2\r"
            "1\r"
            "\r");
    const std::string block =
        "Zu aendernder Aufloesungsslot:  320x 240\r\n"
        "Welche der verfuegbaren Aufloesungen soll verwendet werden?\r\n"
        "(1) Slot nicht veraendern\r\n";
    EXPECT_EQ(out, slot_listing + block + "2\r\n" + block + "1\r\n" +
                       "Slot wird nicht veraendert!\r\n" + enter_prompt);
    EXPECT_EQ(read_file("cstrike.exe"), before);
}

TEST_F(run_test, nine_and_ended_input_leave_the_file_alone) {
    const char* cases[] = {
        "9",   // ends at once, no prompt
        "",    // input ends at the slot choice
        "3",   // input ends at the mode choice
        "31",  // input ends inside the typed answer
    };
    for (const char* keys : cases) {
        SCOPED_TRACE(keys);
        const bytes before = game_file(game_targets[0]);
        write_file("cstrike.exe", before);
        const std::string out = run(keys);
        EXPECT_EQ(out.find(enter_prompt), std::string::npos);
        EXPECT_EQ(out.find("Sie haben"), std::string::npos);
        EXPECT_EQ(read_file("cstrike.exe"), before);
    }
    EXPECT_EQ(run("9"), slot_listing);
}

// --- the dialogue on a state the test builds -------------------------------------------

struct dialogue_fixture : run_test {
    // A run state as the start-up leaves it, with the target opened as asked.
    run_state state_for(bool writable, std::vector<size_pair> modes) {
        run_state state;
        state.row = &game_targets[0];
        if (writable) {
            open_for_update(state.target, "cstrike.exe");
        } else {
            open_for_reading(state.target, "cstrike.exe");
        }
        state.modes.count = static_cast<std::int64_t>(modes.size());
        state.modes.rows.assign(modes.size() + 1, {0, 0, 0});
        for (std::size_t i = 0; i < modes.size(); ++i) {
            state.modes.rows[i + 1] = {0, modes[i].width, modes[i].height};
        }
        return state;
    }
};

TEST_F(dialogue_fixture, write_changes_low_bytes_and_keeps_high_bytes) {
    bytes before = game_file(game_targets[0]);
    const std::uint64_t slot_4 = game_targets[0].slot_table_offset + 24;
    const std::uint8_t slot_bytes[8] = {0x80, 0x02, 0x00, 0x00, 0xE0, 0x01, 0x00, 0x00};
    std::copy(std::begin(slot_bytes), std::end(slot_bytes),
              before.begin() + static_cast<std::ptrdiff_t>(slot_4));
    const std::uint64_t slot_5 = slot_4 + 8;
    const std::uint8_t high_bytes[8] = {0x20, 0x03, 0xAB, 0xCD, 0x58, 0x02, 0xEF, 0x01};
    std::copy(std::begin(high_bytes), std::end(high_bytes),
              before.begin() + static_cast<std::ptrdiff_t>(slot_5));
    write_file("cstrike.exe", before);

    run_state state = state_for(true, {{1280, 1024}});
    slot_buffer buffer;
    const slot_size shown = read_slot(state, 5, buffer);
    EXPECT_EQ(shown.width, 800u);  // only the low 16 bits are shown
    EXPECT_EQ(shown.height, 600u);
    ASSERT_TRUE(write_slot(state, 5, buffer, 1920, 1080));
    ASSERT_EQ(read_slot(state, 4, buffer).width, 640u);
    ASSERT_TRUE(write_slot(state, 4, buffer, 1280, 1024));
    close_target(state.target);

    const bytes after = read_file("cstrike.exe");
    const bytes slot_4_after(after.begin() + static_cast<std::ptrdiff_t>(slot_4),
                             after.begin() + static_cast<std::ptrdiff_t>(slot_4) + 8);
    const bytes slot_5_after(after.begin() + static_cast<std::ptrdiff_t>(slot_5),
                             after.begin() + static_cast<std::ptrdiff_t>(slot_5) + 8);
    EXPECT_EQ(slot_4_after, (bytes{0x00, 0x05, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00}));
    EXPECT_EQ(slot_5_after, (bytes{0x80, 0x07, 0xAB, 0xCD, 0x38, 0x04, 0xEF, 0x01}));
}

TEST_F(dialogue_fixture, refused_write_is_reported_and_changes_nothing) {
    const bytes before = game_file(game_targets[0]);
    write_file("cstrike.exe", before);
    run_state state = state_for(false, {{1280, 1024}});
    console_script_start(script_keys("31\r\r"));
    run_dialogue(state);
    end_run(state);
    const std::string& out = console_script_output();
    EXPECT_NE(out.find("Sie haben die Aufloesung 1280x1024 gewaehlt.\r\n\r\n"
                       "Fehler: Die Datei konnte nicht geschrieben werden. Der Slot wurde nicht "
                       "veraendert!\r\n" +
                       enter_prompt),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Bitte beachten"), std::string::npos);
    EXPECT_EQ(read_file("cstrike.exe"), before);
}

TEST_F(dialogue_fixture, a_zero_row_from_a_shorter_second_gathering_is_not_written) {
    const bytes before = game_file(game_targets[0]);
    write_file("cstrike.exe", before);
    // Counted three modes, but the second gathering found only one.
    run_state state = state_for(true, {{800, 600}, {0, 0}, {0, 0}});
    console_script_start(script_keys("12\r4\r\r"));
    run_dialogue(state);
    end_run(state);
    const std::string& out = console_script_output();
    EXPECT_NE(out.find("(2) 0x0\r\n"), std::string::npos);
    EXPECT_NE(out.find("2\r\nZu aendernder Aufloesungsslot:"), std::string::npos);
    EXPECT_NE(out.find("Slot wird nicht veraendert!"), std::string::npos);
    EXPECT_EQ(read_file("cstrike.exe"), before);
}

}  // namespace
