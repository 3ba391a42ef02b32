#include "line_editor.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "answer.h"
#include "console_script.h"

namespace {

using key_list = std::vector<console_key>;

key_list operator+(key_list first, const key_list& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

key_list typed(std::string_view bytes) { return script_keys(bytes); }
key_list pressed(std::uint8_t code, int times = 1) {
    return key_list(static_cast<std::size_t>(times), script_extended_key(code));
}

struct editing_case {
    const char* name;
    std::size_t width;
    key_list keys;
    std::string text;
    std::size_t cursor;
    int beeps;
    bool finished;
};

TEST(line_editor, key_sequences) {
    const std::string long_line(10000, 'x');
    const editing_case cases[] = {
        {"insert in the middle", 80, typed("13") + pressed(key_left, 2) + typed("2"), "213", 1, 0,
         false},
        {"insert before the last", 80, typed("13") + pressed(key_left) + typed("2"), "123", 2, 0,
         false},
        {"backspace", 80, typed("abc") + pressed(key_left) + typed("\b"), "ac", 1, 0, false},
        {"backspace at the start", 80, typed("ab") + pressed(key_home) + typed("\b\b"), "ab", 0, 0,
         false},
        {"del under the cursor", 80, typed("abc") + pressed(key_home) + pressed(key_delete), "bc",
         0, 0, false},
        {"del at the end beeps", 80, typed("ab") + pressed(key_delete, 2), "ab", 2, 2, false},
        {"home and end", 80,
         typed("bc") + pressed(key_home) + typed("a") + pressed(key_end) + typed("d"), "abcd", 4, 0,
         false},
        {"left and right stop at the ends", 80,
         typed("ab") + pressed(key_right) + pressed(key_left, 3) + typed("<") +
             pressed(key_right, 5) + typed(">"),
         "<ab>", 4, 0, false},
        {"tab at the start", 80, typed("\t"), "        ", 8, 0, false},
        {"tab to the next multiple of 8", 80, typed("abc\tx"), "abc     x", 9, 0, false},
        {"tab on a multiple of 8", 80, typed("abcdefgh\t"), "abcdefgh        ", 16, 0, false},
        {"tab in the middle", 80, typed("ab") + pressed(key_left) + typed("\t"), "a       b", 8, 0,
         false},
        {"esc erases the line", 80, typed("abc") + pressed(key_left) + typed("\x1b") + typed("9"),
         "9", 1, 0, false},
        {"enter ends and is not stored", 80, typed("12\r34"), "12", 2, 0, true},
        {"ctrl+enter ends", 80, typed("7\n8"), "7", 1, 0, true},
        {"latin-1 characters are inserted", 80, typed("\xe4\xff"), "\xe4\xff", 2, 0, false},
        {"other keys are ignored", 80,
         typed("1\x01\x1f") + pressed(59) + pressed(key_insert) + pressed(key_page_up) + typed("2"),
         "12", 2, 0, false},
        {"up and down by the width", 4,
         typed("abcdefghij") + pressed(key_up) + pressed(key_up) + pressed(key_up) + typed("X") +
             pressed(key_down) + pressed(key_down) + pressed(key_down) + typed("Y"),
         "abXcdefghijY", 12, 0, false},
        {"down needs a full width after the cursor", 4,
         typed("abcdef") + pressed(key_home) + pressed(key_right) + pressed(key_down) +
             pressed(key_down) + typed("Z"),
         "abcdeZf", 6, 0, false},
        {"a line of 10000 characters", 80,
         typed(long_line) + pressed(key_home) + pressed(key_down) + typed("y") + pressed(key_end) +
             pressed(key_up) + typed("z"),
         long_line.substr(0, 80) + "y" + long_line.substr(80, 9840) + "z" + long_line.substr(9920),
         9922, 0, false},
    };
    for (const editing_case& c : cases) {
        SCOPED_TRACE(c.name);
        edited_line line;
        line.width = c.width;
        int beeps = 0;
        bool finished = false;
        for (const console_key& key : c.keys) {
            const edit_effect effect = edit_line(line, key);
            beeps += effect == edit_effect::beep ? 1 : 0;
            if (effect == edit_effect::finished) {
                finished = true;
                break;
            }
        }
        EXPECT_EQ(line.text, c.text);
        EXPECT_EQ(line.cursor, c.cursor);
        EXPECT_EQ(beeps, c.beeps);
        EXPECT_EQ(finished, c.finished);
    }
}

// Input that is not a console: what the editor takes is echoed as it arrives, the line ends
// with CR LF, and the answer is the cut field.
TEST(read_answer, piped_input) {
    struct piped_case {
        const char* name;
        key_list keys;
        bool answered;
        std::string field;
        std::string transcript;
    };
    const piped_case cases[] = {
        {"a number", typed("12\r"), true, "12", "12\r\n"},
        {"the first field", typed("  4,7\r"), true, "4", "  4,7\r\n"},
        {"ctrl+enter", typed("\"5,6\"\n"), true, "5,6", "\"5,6\"\r\n"},
        {"edited", typed("13") + pressed(key_left) + typed("2\r"), true, "123", "132\r\n"},
        {"backspace", typed("12\b3\r"), true, "13", "123\r\n"},
        {"tab as blanks", typed("a\tb\r"), true, "a       b", "a       b\r\n"},
        {"empty line", typed("\r"), true, "", "\r\n"},
        {"input ends before enter", typed("12"), false, "", "12"},
        {"no input", {}, false, "", ""},
    };
    for (const piped_case& c : cases) {
        SCOPED_TRACE(c.name);
        console_script_start(c.keys);
        std::string field;
        EXPECT_EQ(read_answer(field), c.answered);
        EXPECT_EQ(field, c.field);
        EXPECT_EQ(console_script_output(), c.transcript);
    }
}

TEST(read_answer, each_answer_starts_on_a_fresh_line) {
    console_script_start(typed("1,2\r3\r"));
    std::string first;
    std::string second;
    ASSERT_TRUE(read_answer(first));
    ASSERT_TRUE(read_answer(second));
    EXPECT_EQ(first, "1");
    EXPECT_EQ(second, "3");
    EXPECT_EQ(console_script_output(), "1,2\r\n3\r\n");
    EXPECT_FALSE(read_answer(first));
}

// On a console the line is drawn instead of echoed; characters at hand are drawn together.
TEST(read_answer, drawn_on_a_console) {
    const std::string pasted(32000, '7');
    struct drawn_case {
        const char* name;
        key_list keys;
        std::string field;
        int shows;
        int beeps;
    };
    const drawn_case cases[] = {
        // "13" at once, Left, "2", and the line drawn once more with the cursor at its end.
        {"edited", typed("13") + pressed(key_left) + typed("2\r"), "123", 4, 0},
        {"paste after home", typed("12") + pressed(key_home) + typed(pasted + "\r"),
         pasted.substr(0, answer_field_limit), 4, 0},
        {"paste in the middle", typed("12") + pressed(key_left) + typed(pasted + "\r"),
         "1" + pasted.substr(0, answer_field_limit - 1), 4, 0},
        {"del at the end", typed("5") + pressed(key_delete) + typed("\r"), "5", 2, 1},
    };
    for (const drawn_case& c : cases) {
        SCOPED_TRACE(c.name);
        console_script_start(c.keys, true);
        std::string field;
        EXPECT_TRUE(read_answer(field));
        EXPECT_EQ(field, c.field);
        const script_display& shown = console_script_display();
        EXPECT_EQ(shown.shows, c.shows);
        EXPECT_EQ(shown.beeps, c.beeps);
        EXPECT_EQ(shown.cursor, shown.text.size());
        EXPECT_FALSE(shown.open);
        EXPECT_EQ(console_script_output(), "\r\n");
    }
}

TEST(read_answer, drawn_line_given_up_when_input_ends) {
    console_script_start(typed("12"), true);
    std::string field;
    EXPECT_FALSE(read_answer(field));
    EXPECT_EQ(console_script_display().text, "12");
    EXPECT_FALSE(console_script_display().open);
    EXPECT_EQ(console_script_output(), "");
}

// A stop and continue while the line is edited draws it anew; once the answer is in, a stop
// has nothing to draw.
TEST(read_answer, drawn_again_after_a_stop) {
    console_script_start(typed("12\r5"), true);
    console_script_resume_before(1);
    std::string field;
    ASSERT_TRUE(read_answer(field));
    EXPECT_EQ(field, "12");
    EXPECT_EQ(console_script_display().redraws, 1);
    // The stop fell between "1" and "2", so they were drawn apart.
    EXPECT_EQ(console_script_display().shows, 3);
    console_script_resume_before(3);
    console_key key;
    ASSERT_TRUE(console_next_key(key));
    EXPECT_EQ(key.code, '5');
    EXPECT_EQ(console_script_display().redraws, 1);
}

}  // namespace
