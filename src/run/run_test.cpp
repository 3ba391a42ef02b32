// The whole run in process: a scripted console, scripted display modes and a real game
// file in a scratch folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
#include "prompts.h"
#include "run.h"
#include "run_state.h"
#include "stated_releases.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

// --- display modes the test chooses ---------------------------------------------------

std::vector<packed_mode> scripted_modes;

// Every source reports the scripted modes; the list's merge keeps each once.
std::optional<std::vector<packed_mode>> scripted_source(const display_reading&, std::int32_t) {
    return scripted_modes;
}
void no_platform_reading(display_reading&) {}

// --- synthetic releases and game files ------------------------------------------------

// Small stand-ins for the two releases: their names and messages, a few KB long, so that a
// case writes kilobytes, not a megabyte. The real rows are run once below.
const std::array<target_row, 2> small_releases = {{
    {"cstrike.exe", 4096, 2048, 2112, known_releases[0].length_message,
     known_releases[0].altered_message, true},
    {"hl.exe", 3072, 1024, 1088, known_releases[1].length_message,
     known_releases[1].altered_message, false},
}};

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
bytes game_file(std::uint64_t length, std::uint64_t slot_table, std::uint64_t guard_offset,
                const size_pair (&slots)[slot_count] = default_slots) {
    bytes data(length, 0);
    data[0] = 0x4D;
    data[1] = 0x5A;
    data[2] = 0x90;
    for (int k = 0; k < slot_count; ++k) {
        const std::uint64_t at = slot_table + static_cast<std::uint64_t>(k) * 8;
        put_le32(data, at, slots[k].width);
        put_le32(data, at + 4, slots[k].height);
    }
    const std::string guard = "pixelwarde-testbed";
    std::copy(guard.begin(), guard.end(), data.begin() + static_cast<std::ptrdiff_t>(guard_offset));
    return data;
}

bytes game_file(const target_row& row) {
    return game_file(row.required_length, row.slot_table_offset, row.guard_offset);
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
        std::copy(std::begin(mode_sources), std::end(mode_sources), saved_sources_.begin());
        for (mode_source& source : mode_sources) {
            source.take = scripted_source;
        }
        saved_reading_ = read_display_for_build;
        read_display_for_build = no_platform_reading;
        scripted_modes = {pack_mode(1920, 1080), pack_mode(640, 480), pack_mode(1280, 1024),
                          pack_mode(800, 600)};
        previous_folder_ = fs::current_path();
        folder_ = fs::temp_directory_path() /
                  ("pixelwarde-run-test-" + std::to_string(std::random_device{}()));
        fs::create_directories(folder_);
        fs::current_path(folder_);
        testbed_guard_ = digest_text("pixelwarde-testbed");
        guard_texts_[0] = testbed_guard_;
        setup_ = {small_releases, accepted_header_texts, guard_texts_};
    }

    void TearDown() override {
        fs::current_path(previous_folder_);
        fs::remove_all(folder_);
        std::copy(saved_sources_.begin(), saved_sources_.end(), std::begin(mode_sources));
        read_display_for_build = saved_reading_;
    }

    // The whole run with these keys; returns what it wrote.
    std::string run(const std::string& keys) {
        console_script_start(script_keys(keys));
        EXPECT_EQ(run_patch(setup_), 0);
        return console_script_output();
    }

    run_setup setup_;
    std::array<std::string_view, 1> guard_texts_;

private:
    std::array<mode_source, mode_source_count> saved_sources_;
    display_services_reading saved_reading_ = nullptr;
    fs::path previous_folder_;
    fs::path folder_;
    std::string testbed_guard_;
};

const std::string slot_listing =
    "Pixelwarde " PW_EXPECTED_VERSION
    "\r\n\r\n"
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
    const bytes before = game_file(small_releases[0]);
    write_file("cstrike.exe", before);
    // "0", "x" and an extended key at the slot choice are ignored.
    const std::string out = run(std::string("0x\xff") + "3" + "3\r" + "\r");
    EXPECT_EQ(out, slot_listing + mode_block_slot_3 + "3\r\n" + "\r\n" +
                       "Sie haben die Aufloesung 1280x1024 gewaehlt.\r\n\r\n" + wide_advice +
                       enter_prompt);
    bytes expected = before;
    const std::uint64_t slot_3 = small_releases[0].slot_table_offset + 16;
    put_le32(expected, slot_3, 1280);
    put_le32(expected, slot_3 + 4, 1024);
    EXPECT_EQ(read_file("cstrike.exe"), expected);
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
        const bytes before = game_file(small_releases[0]);
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
        write_file("cstrike.exe", game_file(small_releases[0]));
        const std::string out = run("11\r\r");
        std::string expected = "Sie haben die Aufloesung ";
        expected += std::to_string(c.mode.width) + "x" + std::to_string(c.mode.height);
        expected += " gewaehlt.\r\n\r\n";
        expected += *c.advice;
        expected += enter_prompt;
        EXPECT_NE(out.find(expected), std::string::npos) << out;
    }
}

// An end signal from the answer on waits for the write's report, then ends the run without
// the Enter prompt; before the answer nothing is held.
TEST_F(run_test, end_signal_during_the_write_waits_for_its_report) {
    const bytes before = game_file(small_releases[0]);
    write_file("cstrike.exe", before);
    console_script_start(script_keys("33\r\r"));
    console_script_end_signal_when_held();
    EXPECT_EQ(run_patch(setup_), 0);
    const std::string& out = console_script_output();
    const std::string answered = slot_listing + mode_block_slot_3 + "3\r\n";
    EXPECT_EQ(out, answered + "\r\n" + "Sie haben die Aufloesung 1280x1024 gewaehlt.\r\n\r\n" +
                       wide_advice);
    EXPECT_EQ(console_script_held_at(), answered.size());
    EXPECT_EQ(console_script_keys_read(), 3u);  // the Enter for the prompt is never read
    bytes expected = before;
    const std::uint64_t slot_3 = small_releases[0].slot_table_offset + 16;
    put_le32(expected, slot_3, 1280);
    put_le32(expected, slot_3 + 4, 1024);
    EXPECT_EQ(read_file("cstrike.exe"), expected);
}

TEST_F(run_test, no_display_mode_offers_only_keeping_the_slot) {
    scripted_modes.clear();
    const bytes before = game_file(small_releases[0]);
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
        const bytes before = game_file(small_releases[0]);
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
        state.row = &small_releases[0];
        state.file_name = state.row->file_name;
        if (writable) {
            open_for_update(state.target, "cstrike.exe");
        } else {
            open_for_reading(state.target, "cstrike.exe");
        }
        // The blocks as the identification read them.
        read_at(state.target, 0, state.header_block.data(), block_length);
        read_at(state.target, state.row->guard_offset, state.guard_block.data(), block_length);
        state.modes.count = static_cast<std::int64_t>(modes.size());
        state.modes.rows.assign(modes.size() + 1, {0, 0, 0});
        for (std::size_t i = 0; i < modes.size(); ++i) {
            state.modes.rows[i + 1] = {0, modes[i].width, modes[i].height};
        }
        return state;
    }
};

TEST_F(dialogue_fixture, write_changes_low_bytes_and_keeps_high_bytes) {
    bytes before = game_file(small_releases[0]);
    const std::uint64_t slot_4 = small_releases[0].slot_table_offset + 24;
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
    ASSERT_EQ(write_slot(state, 5, buffer, 1920, 1080), slot_write::done);
    ASSERT_EQ(read_slot(state, 4, buffer).width, 640u);
    ASSERT_EQ(write_slot(state, 4, buffer, 1280, 1024), slot_write::done);
    ASSERT_TRUE(close_target(state.target));

    const bytes after = read_file("cstrike.exe");
    const bytes slot_4_after(after.begin() + static_cast<std::ptrdiff_t>(slot_4),
                             after.begin() + static_cast<std::ptrdiff_t>(slot_4) + 8);
    const bytes slot_5_after(after.begin() + static_cast<std::ptrdiff_t>(slot_5),
                             after.begin() + static_cast<std::ptrdiff_t>(slot_5) + 8);
    EXPECT_EQ(slot_4_after, (bytes{0x00, 0x05, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00}));
    EXPECT_EQ(slot_5_after, (bytes{0x80, 0x07, 0xAB, 0xCD, 0x38, 0x04, 0xEF, 0x01}));
}

const std::string write_error =
    "Fehler: Die Datei konnte nicht geschrieben werden.\r\n"
    "Der Slot wurde nicht veraendert!\r\n";

TEST_F(dialogue_fixture, refused_write_is_reported_and_changes_nothing) {
    const bytes before = game_file(small_releases[0]);
    write_file("cstrike.exe", before);
    run_state state = state_for(false, {{1280, 1024}});
    console_script_start(script_keys("31\r"));
    const dialogue_result result = run_dialogue(state);
    EXPECT_EQ(result.outcome, dialogue_outcome::slot_chosen);
    EXPECT_EQ(result.write, slot_write::not_done);
    report_write(result, close_target(state.target));
    const std::string& out = console_script_output();
    EXPECT_NE(out.find("Sie haben die Aufloesung 1280x1024 gewaehlt.\r\n\r\n" + write_error),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Bitte beachten"), std::string::npos);
    EXPECT_EQ(read_file("cstrike.exe"), before);
}

// The file ends inside the slot table (on POSIX another program may truncate it under the
// run; Windows lets nobody write it meanwhile): slot 6 cannot be read, so its bytes 2, 3, 6
// and 7 are unknown and nothing may be written there.
TEST_F(dialogue_fixture, a_slot_that_could_not_be_read_is_never_written) {
    bytes before = game_file(small_releases[0]);
    before.resize(small_releases[0].slot_table_offset + 40);  // slots 1 to 5
    write_file("cstrike.exe", before);
    run_state state = state_for(true, {{1280, 1024}});
    console_script_start(script_keys("61\r"));
    const dialogue_result result = run_dialogue(state);
    EXPECT_EQ(result.write, slot_write::not_done);
    report_write(result, close_target(state.target));
    const std::string& out = console_script_output();
    EXPECT_NE(out.find("(5)  800x 600\r\n(6)  0x 0\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("gewaehlt.\r\n\r\n" + write_error), std::string::npos) << out;
    EXPECT_EQ(read_file("cstrike.exe"), before);

    slot_buffer never_read;
    EXPECT_EQ(write_slot(state, 1, never_read, 640, 480), slot_write::not_done);
}

// The name no longer names the file that was identified: another program put a copy in its
// place, or took it away. Nothing is written into either file.
TEST_F(dialogue_fixture, a_file_no_longer_named_is_never_written) {
    const bytes before = game_file(small_releases[0]);
    write_file("cstrike.exe", before);
    write_file("copy.exe", before);
    struct name_case {
        const char* name;  // what the name the run holds now names
        bool exists;
    };
    const name_case cases[] = {{"copy.exe", true}, {"gone.exe", false}};
    for (const name_case& c : cases) {
        SCOPED_TRACE(c.name);
        run_state state = state_for(true, {{1280, 1024}});
        state.file_name = c.name;
        console_script_start(script_keys("31\r"));
        const dialogue_result result = run_dialogue(state);
        EXPECT_EQ(result.write, slot_write::not_done);
        report_write(result, close_target(state.target));
        EXPECT_NE(console_script_output().find("gewaehlt.\r\n\r\n" + write_error),
                  std::string::npos);
        EXPECT_EQ(read_file("cstrike.exe"), before);
        if (c.exists) {
            EXPECT_EQ(read_file(c.name), before);
        }
    }
}

// Another program changed the open file in place since it was identified and the slot
// shown. The write compares the file with the run's record of it, so a change to that
// record stands for a change to the file (and Windows lets no other writer in while the
// run holds the file). Each compared part alone is enough, also where a digest or the
// shown size would not tell.
TEST_F(dialogue_fixture, a_file_changed_since_it_was_shown_is_never_written) {
    struct change_case {
        const char* what;
        void (*change)(run_state& state, target_row& row, slot_buffer& shown);
    };
    const change_case cases[] = {
        {"file one byte longer",
         [](run_state&, target_row& row, slot_buffer&) { row.required_length -= 1; }},
        // Past the header's first zero byte, where its digest text has ended.
        {"header block", [](run_state& state, target_row&,
                            slot_buffer&) { state.header_block[block_length - 1] ^= 1; }},
        {"guard block", [](run_state& state, target_row&,
                           slot_buffer&) { state.guard_block[block_length - 1] ^= 1; }},
        {"shown slot byte",
         [](run_state&, target_row&, slot_buffer& shown) { std::get<0>(shown.bytes) ^= 1; }},
        {"slot byte not shown",
         [](run_state&, target_row&, slot_buffer& shown) { std::get<7>(shown.bytes) ^= 1; }},
    };
    for (const change_case& c : cases) {
        SCOPED_TRACE(c.what);
        const bytes before = game_file(small_releases[0]);
        write_file("cstrike.exe", before);
        run_state state = state_for(true, {{1280, 1024}});
        target_row row = *state.row;
        state.row = &row;
        slot_buffer buffer;
        read_slot(state, 3, buffer);
        c.change(state, row, buffer);
        EXPECT_EQ(write_slot(state, 3, buffer, 1280, 1024), slot_write::not_done);
        EXPECT_TRUE(close_target(state.target));
        EXPECT_EQ(read_file("cstrike.exe"), before);
    }
}

// What follows "gewaehlt." once the target is closed: the advice only when the write, its
// push to the medium and the close all succeeded.
TEST(report_write, advice_only_when_write_flush_and_close_succeeded) {
    const std::string maybe_changed =
        "Fehler: Die Datei konnte nicht geschrieben werden.\r\n"
        "Der Slot ist moeglicherweise veraendert. Bitte das Backup zurueckspielen!\r\n";
    struct report_case {
        slot_write write;
        bool closed;
        const std::string* report;
    };
    const report_case cases[] = {
        {slot_write::done, true, &four_to_three_advice},
        {slot_write::done, false, &maybe_changed},
        {slot_write::uncertain, true, &maybe_changed},
        {slot_write::uncertain, false, &maybe_changed},
        {slot_write::not_done, true, &write_error},
        {slot_write::not_done, false, &write_error},
    };
    for (const report_case& c : cases) {
        SCOPED_TRACE(testing::Message() << "write result " << static_cast<int>(c.write)
                                        << (c.closed ? ", closed" : ", close failed"));
        console_script_start({});
        report_write({dialogue_outcome::slot_chosen, c.write, 800, 600}, c.closed);
        EXPECT_EQ(console_script_output(), *c.report);
    }
    // Nothing was chosen: nothing to report.
    for (const dialogue_outcome outcome :
         {dialogue_outcome::not_run, dialogue_outcome::slot_kept, dialogue_outcome::input_ended}) {
        console_script_start({});
        report_write({outcome, slot_write::not_done, 0, 0}, false);
        EXPECT_EQ(console_script_output(), "");
    }
}

TEST_F(dialogue_fixture, a_zero_row_from_a_shorter_second_gathering_is_not_written) {
    const bytes before = game_file(small_releases[0]);
    write_file("cstrike.exe", before);
    // Counted three modes, but the second gathering found only one.
    run_state state = state_for(true, {{800, 600}, {0, 0}, {0, 0}});
    console_script_start(script_keys("12\r4\r"));
    EXPECT_EQ(run_dialogue(state).outcome, dialogue_outcome::slot_kept);
    EXPECT_TRUE(close_target(state.target));
    const std::string& out = console_script_output();
    EXPECT_NE(out.find("(2) 0x0\r\n"), std::string::npos);
    EXPECT_NE(out.find("2\r\nZu aendernder Aufloesungsslot:"), std::string::npos);
    EXPECT_NE(out.find("Slot wird nicht veraendert!"), std::string::npos);
    EXPECT_EQ(read_file("cstrike.exe"), before);
}

// The dialogue reports how it ended and leaves the prompt, the close and what follows the
// close (the advice) to the run.
TEST_F(dialogue_fixture, outcomes_and_no_prompt_of_its_own) {
    struct outcome_case {
        const char* keys;
        dialogue_outcome outcome;
    };
    const outcome_case cases[] = {
        {"9", dialogue_outcome::ended_by_nine},  {"", dialogue_outcome::input_ended},
        {"3", dialogue_outcome::input_ended},    {"32\r", dialogue_outcome::slot_kept},
        {"31\r", dialogue_outcome::slot_chosen},
    };
    for (const outcome_case& c : cases) {
        SCOPED_TRACE(c.keys);
        write_file("cstrike.exe", game_file(small_releases[0]));
        run_state state = state_for(true, {{1920, 1080}});
        console_script_start(script_keys(c.keys));
        EXPECT_EQ(run_dialogue(state).outcome, c.outcome);
        EXPECT_EQ(console_script_output().find(enter_prompt), std::string::npos);
        EXPECT_EQ(console_script_output().find("Bitte beachten"), std::string::npos);
        EXPECT_TRUE(close_target(state.target));
    }
}

// The 80-character advice line wraps by itself only on an 80-column console; elsewhere it
// needs its line end. Output that is no console gets the bytes as they always were.
TEST_F(run_test, advice_line_ends_where_the_console_would_not_wrap_it) {
    const std::string eighty =
        "Field-of-vision-Variable in der config.cfg korrekt gesetzt werden, ansonsten ist";
    struct width_case {
        std::size_t columns;
        const char* after;
    };
    const width_case cases[] = {{0, ""}, {80, ""}, {120, "\r\n"}, {40, "\r\n"}};
    for (const width_case& c : cases) {
        SCOPED_TRACE(c.columns);
        write_file("cstrike.exe", game_file(small_releases[0]));
        console_script_start(script_keys("14\r\r"));
        console_script_set_console(c.columns, false);
        run_patch(setup_);
        EXPECT_NE(console_script_output().find(eighty + c.after + "das Bild in die Breite"),
                  std::string::npos);
    }
}

// Not found: a console window of the tool's own would close at once, so the run waits for
// Enter there, printing nothing more; anywhere else it ends at once.
TEST_F(run_test, not_found_waits_for_enter_only_in_a_console_of_its_own) {
    const std::string not_found =
        "Pixelwarde " PW_EXPECTED_VERSION
        "\r\n\r\n"
        "cstrike.exe und hl.exe nicht gefunden! Liegt pixelwarde im falschen Ordner?\r\n";
    struct console_case {
        bool interactive;
        bool owned_alone;
        std::size_t keys_read;
    };
    const console_case cases[] = {{true, true, 3}, {true, false, 0}, {false, true, 0}};
    for (const console_case& c : cases) {
        SCOPED_TRACE(c.interactive);
        SCOPED_TRACE(c.owned_alone);
        console_script_start(script_keys("x1\rx"), c.interactive);
        console_script_set_console(80, c.owned_alone);
        EXPECT_EQ(run_patch(setup_), 0);
        EXPECT_EQ(console_script_output(), not_found);
        EXPECT_EQ(console_script_keys_read(), c.keys_read);
    }
}

// A third release is one more row: its own name, length and offsets, and a whole dialogue.
TEST_F(run_test, a_third_release_row_runs_a_whole_dialogue) {
    const std::array<target_row, 3> rows = {
        small_releases[0], small_releases[1],
        target_row{"third.exe", 6000, 4000, 4064, "length", "altered", false}};
    setup_.targets = rows;
    const bytes before = game_file(rows[2]);
    write_file("third.exe", before);
    const std::string out = run("21\r\r");
    EXPECT_NE(out.find("third.exe gefunden!\r\n"), std::string::npos) << out;
    EXPECT_NE(out.find("(2)  400x 300\r\n"), std::string::npos);
    EXPECT_NE(out.find("Sie haben die Aufloesung 640x480 gewaehlt."), std::string::npos);
    bytes expected = before;
    put_le32(expected, rows[2].slot_table_offset + 8, 640);
    put_le32(expected, rows[2].slot_table_offset + 12, 480);
    EXPECT_EQ(read_file("third.exe"), expected);
}

// The real rows: each release's file, made as the tests state the releases, is found,
// identified and patched at its own slots.
TEST_F(run_test, the_known_releases_patch_their_own_slot_tables) {
    setup_.targets = known_releases;
    for (const stated_release& release : stated_releases) {
        SCOPED_TRACE(release.file_name);
        const std::string file_name(release.file_name);
        const char* name = file_name.c_str();
        const bytes before = game_file(release.length, release.slot_table, release.guard);
        write_file(name, before);
        const std::string out = run("81\r\r");
        EXPECT_NE(out.find(file_name + " gefunden!\r\n"), std::string::npos);
        bytes expected = before;
        put_le32(expected, release.slot_table + 56, 640);
        put_le32(expected, release.slot_table + 60, 480);
        EXPECT_EQ(read_file(name), expected) << out;
        fs::remove(name);  // the next row's file must be the one found
    }
}

}  // namespace
