#include "line_editor.h"

#include <string_view>

#include "answer.h"
#include "line_display.h"

edit_effect edit_line(edited_line& line, const console_key& key) {
    std::string& text = line.text;
    std::size_t& cursor = line.cursor;
    if (key.extended) {
        switch (key.code) {
            case key_delete:
                if (cursor == text.size()) {
                    return edit_effect::beep;
                }
                text.erase(cursor, 1);
                return edit_effect::changed;
            case key_left:
                if (cursor == 0) {
                    return edit_effect::ignored;
                }
                --cursor;
                return edit_effect::moved;
            case key_right:
                if (cursor == text.size()) {
                    return edit_effect::ignored;
                }
                ++cursor;
                return edit_effect::moved;
            case key_home:
                cursor = 0;
                return edit_effect::moved;
            case key_end:
                cursor = text.size();
                return edit_effect::moved;
            case key_up:
                if (cursor < line.width) {
                    return edit_effect::ignored;
                }
                cursor -= line.width;
                return edit_effect::moved;
            case key_down:
                if (text.size() - cursor < line.width) {
                    return edit_effect::ignored;
                }
                cursor += line.width;
                return edit_effect::moved;
            default:
                return edit_effect::ignored;
        }
    }
    switch (key.code) {
        case char_enter:
        case char_line_feed:
            return edit_effect::finished;
        case char_backspace:
            if (cursor == 0) {
                return edit_effect::ignored;
            }
            --cursor;
            text.erase(cursor, 1);
            return edit_effect::changed;
        case char_tab: {
            const std::size_t blanks = 8 - cursor % 8;
            text.insert(cursor, blanks, ' ');
            cursor += blanks;
            return edit_effect::changed;
        }
        case char_escape:
            text.clear();
            cursor = 0;
            return edit_effect::changed;
        default:
            if (key.code < 32) {
                return edit_effect::ignored;
            }
            text.insert(cursor, 1, static_cast<char>(key.code));
            ++cursor;
            return edit_effect::changed;
    }
}

namespace {

// Ends the drawing of the line, on every way out of read_answer.
void end_display() {
    console_set_resume_action(nullptr);
    line_display_end();
}

}  // namespace

bool read_answer(std::string& field) {
    edited_line line;
    // Without a console to draw on, what the editor takes is echoed plainly, so that a
    // transcript of piped input reads like the console session.
    const bool drawn = console_is_interactive() && line_display_begin();
    if (drawn) {
        console_set_resume_action(line_display_redraw);
    }
    console_key key;
    for (;;) {
        if (!console_next_key(key)) {
            if (drawn) {
                end_display();
            }
            return false;
        }
        if (drawn) {
            line.width = line_display_width();  // Up and Down step by the width as it is now
        }
        const std::size_t cursor_before = line.cursor;
        const edit_effect effect = edit_line(line, key);
        if (effect == edit_effect::finished) {
            break;
        }
        if (effect == edit_effect::changed && !key.extended && key.code >= 32) {
            // Characters already at hand (a paste, fast typing) go in before the line is
            // drawn again: a drawing for each of them would cost the line's length each
            // time. They are all inserted at the cursor, one behind the other.
            while (console_character_waiting() && console_next_key(key)) {
                edit_line(line, key);
            }
        }
        if (effect == edit_effect::beep) {
            if (drawn) {
                line_display_beep();
            }
        } else if (effect != edit_effect::ignored) {
            if (drawn) {
                line_display_show(line.text, line.cursor);
            } else if (effect == edit_effect::changed && line.cursor > cursor_before) {
                console_write(
                    std::string_view(line.text).substr(cursor_before, line.cursor - cursor_before));
            }
        }
    }
    if (drawn) {
        line_display_show(line.text, line.text.size());
        end_display();
    }
    console_write("\r\n");
    field = cut_field(line.text);
    return true;
}
