#include "dialogue.h"

#include <array>
#include <string>

#include "answer.h"
#include "console.h"
#include "line_editor.h"
#include "prompts.h"

namespace {

// " 640": a blank, then the digits. The shown sizes are never negative, so the blank that
// would be a minus sign always leads.
std::string blank_led_form(std::uint64_t value) { return " " + std::to_string(value); }

std::string plain_form(std::uint64_t value) { return std::to_string(value); }

std::uint64_t slot_offset(const run_state& state, int slot) {
    return state.row->slot_table_offset + static_cast<std::uint64_t>(slot - 1) * 8;
}

void show_slots(const run_state& state) {
    print_text("Warnung! Dieses Programm veraendert die ");
    print_text(state.row->file_name);
    print_line(".");
    print_line("Bitte vor Benutzung ein Backup anlegen.");
    print_empty_line();
    print_line("Welche CS-Aufloesung soll ersetzt werden?");
    print_empty_line();
    slot_buffer buffer;
    for (int k = 1; k <= slot_count; ++k) {
        const slot_size size = read_slot(state, k, buffer);
        print_text("(" + plain_form(static_cast<std::uint64_t>(k)) + ") " +
                   blank_led_form(size.width) + "x");
        print_line(blank_led_form(size.height));
    }
    print_line("(9) ENDE");
    print_empty_line();
    print_line("Welche Aufloesung soll veraendert werden?");
    print_empty_line();
}

// A single key from 1 to 9; other keys are ignored. 0 when input ended.
int choose_slot() {
    std::string key;
    while (read_key(key)) {
        const std::int64_t slot_choice = to_choice(to_number(key));
        if (slot_choice > 0) {
            return static_cast<int>(slot_choice);
        }
    }
    return 0;
}

// A listed row that can be written: rows past a shorter second gathering hold 0 x 0.
bool writable_row(const mode_table& modes, std::int64_t row_number) {
    const auto& row = modes.rows[static_cast<std::size_t>(row_number)];
    return row[1] != 0 && row[2] != 0;
}

// The mode block, repeated until the answer names a listed row or "Slot nicht
// veraendern" (count + 1). 0 when input ended.
std::int64_t choose_mode(const run_state& state, slot_size current) {
    const mode_table& modes = state.modes;
    const std::int64_t keep = modes.count + 1;
    for (;;) {
        print_text("Zu aendernder Aufloesungsslot: ");
        print_text(blank_led_form(current.width) + "x");
        print_line(blank_led_form(current.height));
        print_line("Welche der verfuegbaren Aufloesungen soll verwendet werden?");
        std::string listing;
        for (std::int64_t i = 1; i <= modes.count; ++i) {
            const auto& row = modes.rows[static_cast<std::size_t>(i)];
            listing += "(" + plain_form(static_cast<std::uint64_t>(i)) + ") " + plain_form(row[1]) +
                       "x" + plain_form(row[2]) + "\r\n";
        }
        print_text(listing);
        print_line("(" + plain_form(static_cast<std::uint64_t>(keep)) + ") Slot nicht veraendern");
        std::string field;
        if (!read_answer(field)) {
            return 0;
        }
        const std::int64_t mode_choice = to_choice(to_number(field));
        if (mode_choice == keep ||
            (mode_choice >= 1 && mode_choice < keep && writable_row(modes, mode_choice))) {
            return mode_choice;
        }
    }
}

// Whether the open file still has the identified length and blocks, and the slot the bytes
// that were read and shown. Another program may have rewritten, cut or grown it in place
// meanwhile: POSIX keeps nobody out, and Windows keeps out only Windows programs.
bool unchanged_since_shown(const run_state& state, int slot, const slot_buffer& buffer) {
    if (target_length(state.target) != state.row->required_length) {
        return false;
    }
    std::array<std::uint8_t, block_length> block;
    if (!read_at(state.target, 0, block.data(), block.size()) || block != state.header_block ||
        !read_at(state.target, state.row->guard_offset, block.data(), block.size()) ||
        block != state.guard_block) {
        return false;
    }
    std::array<std::uint8_t, 8> slot_now;
    return read_at(state.target, slot_offset(state, slot), slot_now.data(), slot_now.size()) &&
           slot_now == buffer.bytes;
}

void print_advice(std::uint64_t width, std::uint64_t height) {
    if (static_cast<double>(height) == static_cast<double>(width) / 4.0 * 3.0) {
        print_line("Bitte ggf. die \"default_fov\"-Variable in der config.cfg auskommentieren.");
        return;
    }
    print_line("Bitte beachten: Fuer Wide-Screen-Aufloesungen (z. B. 16:9 oder 16:10) muss die");
    // Exactly 80 characters: an 80-column console wraps by itself, and a file or pipe gets
    // the bytes as they always were. Any other console width needs the line end.
    const std::string_view eighty =
        "Field-of-vision-Variable in der config.cfg korrekt gesetzt werden, ansonsten ist";
    const std::size_t columns = console_measure().columns;
    if (columns != 0 && columns != 80) {
        print_line(eighty);
    } else {
        print_text(eighty);
    }
    print_line("das Bild in die Breite verzerrt. Die Anpassung in der config.cfg lautet dann:");
    print_empty_line();
    print_line("(fuer 16:10): default_fov 100.39487232");
    print_line("(fuer 16:9): default_fov 106.270273206");
    print_empty_line();
    print_line("Solle es sich ergeben, dass doch wieder 4:3-Aufloesungen verwendet werden, kann");
    print_line("diese Variable durch \"//\" am Anfang wieder auskommentiert werden.");
    print_line("Die config.cfg liegt normalerweise im Ordner \"cstrike\".");
}

}  // namespace

slot_size read_slot(const run_state& state, int slot, slot_buffer& buffer) {
    buffer.bytes.fill(0);
    buffer.read =
        read_at(state.target, slot_offset(state, slot), buffer.bytes.data(), buffer.bytes.size());
    const auto& bytes = buffer.bytes;
    return {static_cast<std::uint32_t>(bytes[0] + 256 * bytes[1]),
            static_cast<std::uint32_t>(bytes[4] + 256 * bytes[5])};
}

slot_write write_slot(const run_state& state, int slot, slot_buffer& buffer, std::uint64_t width,
                      std::uint64_t height) {
    // Bytes 2, 3, 6 and 7 would be guesses in a slot not read, a file put in the identified
    // one's place was never identified, and one changed in place is no longer the one
    // identified and shown.
    if (!buffer.read || !still_named(state.target, state.file_name.c_str()) ||
        !unchanged_since_shown(state, slot, buffer)) {
        return slot_write::not_done;
    }
    auto& bytes = buffer.bytes;
    bytes[0] = static_cast<std::uint8_t>(width & 255);
    bytes[1] = static_cast<std::uint8_t>((width >> 8) & 255);
    bytes[4] = static_cast<std::uint8_t>(height & 255);
    bytes[5] = static_cast<std::uint8_t>((height >> 8) & 255);
    const std::size_t written =
        write_at(state.target, slot_offset(state, slot), bytes.data(), bytes.size());
    if (written == 0) {
        return slot_write::not_done;
    }
    if (written < bytes.size() || !flush_target(state.target)) {
        return slot_write::uncertain;
    }
    return slot_write::done;
}

dialogue_result run_dialogue(const run_state& state) {
    show_slots(state);
    const int slot = choose_slot();
    if (slot == 0) {
        return {dialogue_outcome::input_ended};
    }
    if (slot == 9) {
        return {dialogue_outcome::ended_by_nine};
    }
    slot_buffer buffer;
    const slot_size current = read_slot(state, slot, buffer);
    const std::int64_t choice = choose_mode(state, current);
    if (choice == 0) {
        return {dialogue_outcome::input_ended};
    }
    if (choice == state.modes.count + 1) {
        print_line("Slot wird nicht veraendert!");
        return {dialogue_outcome::slot_kept};
    }
    // From here until the write's report is out, an end signal must not cut the run short:
    // the user is told whether the file changed. The run releases the hold after the report.
    console_hold_end_signals();
    const auto& row = state.modes.rows[static_cast<std::size_t>(choice)];
    print_empty_line();
    print_line("Sie haben die Aufloesung " + plain_form(row[1]) + "x" + plain_form(row[2]) +
               " gewaehlt.");
    print_empty_line();
    return {dialogue_outcome::slot_chosen, write_slot(state, slot, buffer, row[1], row[2]), row[1],
            row[2]};
}

void report_write(const dialogue_result& result, bool closed) {
    if (result.outcome != dialogue_outcome::slot_chosen) {
        return;
    }
    if (result.write == slot_write::done && closed) {
        print_advice(result.width, result.height);
        return;
    }
    print_line("Fehler: Die Datei konnte nicht geschrieben werden.");
    if (result.write == slot_write::not_done) {
        print_line("Der Slot wurde nicht veraendert!");
    } else {
        print_line("Der Slot ist moeglicherweise veraendert. Bitte das Backup zurueckspielen!");
    }
}
