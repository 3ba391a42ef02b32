// The console on Windows: key events from the console input, raw bytes out through
// WriteFile, which translates nothing.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "console.h"
#include "terminal_keys.h"

namespace {

// Everything the console holds for the run.
struct windows_console {
    bool opened = false;
    bool interactive = false;
    HANDLE input_handle = INVALID_HANDLE_VALUE;
    HANDLE output_handle = INVALID_HANDLE_VALUE;

    // A key event may stand for several presses (auto-repeat).
    console_key repeated_key;
    WORD repeats_left = 0;

    // Input records read but not yet taken. Each read is a round trip to the console; taking
    // all that are there at once keeps a paste from paying one for every record.
    INPUT_RECORD records[128] = {};
    DWORD records_length = 0;
    DWORD records_next = 0;

    stream_key_decoder stream_decoder;
    std::uint8_t input[256] = {};
    DWORD input_length = 0;
    DWORD input_next = 0;
};

windows_console the_console;

// The hold of end signals: none, held, held with one noted, or the report out and the
// handler asked to end the process. The control handler runs on a thread of its own, hence
// atomic.
constexpr int end_free = 0;
constexpr int end_held = 1;
constexpr int end_noted = 2;
constexpr int end_reported = 3;
std::atomic<int> end_hold{end_free};

// Interrupt, Break and closing the window end the run at once with status 0. During the
// write and its report the handler waits until the report is out, then ends the run: a
// closing console gives its processes a few seconds, and one 8-byte write needs far less.
// The handler's thread alone ends the process, so that no thread is cut off while it holds
// a lock that the process's end needs.
BOOL WINAPI on_control(DWORD) {
    int state = end_held;
    if (end_hold.compare_exchange_strong(state, end_noted) || state == end_noted) {
        while (end_hold.load() != end_reported) {
            Sleep(10);
        }
    }
    ExitProcess(0);
}

// PC extended key code of a key without a character; 0 for keys that give nothing.
std::uint8_t extended_code(const KEY_EVENT_RECORD& event) {
    switch (event.wVirtualKeyCode) {
        case VK_SHIFT:
        case VK_CONTROL:
        case VK_MENU:
        case VK_CAPITAL:
        case VK_NUMLOCK:
        case VK_SCROLL:
        case VK_LWIN:
        case VK_RWIN:
        case VK_APPS:
            return 0;
        case VK_HOME:
            return key_home;
        case VK_UP:
            return key_up;
        case VK_PRIOR:
            return key_page_up;
        case VK_LEFT:
            return key_left;
        case VK_RIGHT:
            return key_right;
        case VK_END:
            return key_end;
        case VK_DOWN:
            return key_down;
        case VK_NEXT:
            return key_page_down;
        case VK_INSERT:
            return key_insert;
        case VK_DELETE:
            return key_delete;
        case VK_F11:
            return key_f11;
        case VK_F12:
            return key_f12;
        default:
            if (event.wVirtualKeyCode >= VK_F1 && event.wVirtualKeyCode <= VK_F10) {
                return static_cast<std::uint8_t>(key_f1 + (event.wVirtualKeyCode - VK_F1));
            }
            return static_cast<std::uint8_t>(event.wVirtualScanCode);
    }
}

// The key a console input record stands for, if any.
bool key_of(const INPUT_RECORD& record, console_key& key, WORD& count) {
    if (record.EventType != KEY_EVENT) {
        return false;
    }
    const KEY_EVENT_RECORD& event = record.Event.KeyEvent;
    const auto character = static_cast<std::uint8_t>(event.uChar.AsciiChar);
    count = event.wRepeatCount == 0 ? 1 : event.wRepeatCount;
    if (!event.bKeyDown) {
        // A character composed with Alt and the keypad arrives when Alt is released.
        if (event.wVirtualKeyCode == VK_MENU && character != 0) {
            key = {false, character};
            count = 1;
            return true;
        }
        return false;
    }
    if (character != 0) {
        key = {false, character};
        return true;
    }
    // Wine's console gives a lone Esc without its character.
    if (event.wVirtualKeyCode == VK_ESCAPE) {
        key = {false, char_escape};
        return true;
    }
    const std::uint8_t code = extended_code(event);
    if (code == 0) {
        return false;
    }
    key = {true, code};
    return true;
}

// Reads the records that are there, at least one; without wait only when one is there.
bool fill_records(bool wait) {
    DWORD read = 0;
    if (!wait && (!PeekConsoleInputA(the_console.input_handle, the_console.records, 1, &read) ||
                  read == 0)) {
        return false;
    }
    if (!ReadConsoleInputA(the_console.input_handle, the_console.records,
                           sizeof the_console.records / sizeof the_console.records[0], &read) ||
        read == 0) {
        return false;
    }
    the_console.records_length = read;
    the_console.records_next = 0;
    return true;
}

bool next_console_key(console_key& key) {
    if (the_console.repeats_left > 0) {
        --the_console.repeats_left;
        key = the_console.repeated_key;
        return true;
    }
    for (;;) {
        if (the_console.records_next == the_console.records_length && !fill_records(true)) {
            return false;
        }
        WORD count = 1;
        if (key_of(the_console.records[the_console.records_next++], key, count)) {
            the_console.repeated_key = key;
            the_console.repeats_left = static_cast<WORD>(count - 1);
            return true;
        }
    }
}

bool next_stream_key(console_key& key) {
    for (;;) {
        if (the_console.input_next == the_console.input_length) {
            DWORD read = 0;
            if (!ReadFile(the_console.input_handle, the_console.input, sizeof the_console.input,
                          &read, nullptr) ||
                read == 0) {
                return false;
            }
            the_console.input_length = read;
            the_console.input_next = 0;
        }
        if (stream_keys_feed(the_console.stream_decoder,
                             the_console.input[the_console.input_next++], key)) {
            return true;
        }
    }
}

}  // namespace

// Nothing to fill: a Windows process's standard handles are fixed when it starts, and a
// file opened later never becomes one of them.
bool console_fill_closed_streams() { return true; }

void console_open() {
    if (the_console.opened) {
        return;
    }
    the_console.opened = true;
    the_console.input_handle = GetStdHandle(STD_INPUT_HANDLE);
    the_console.output_handle = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    the_console.interactive = GetConsoleMode(the_console.input_handle, &mode) != 0;
    // A Ctrl+C that the starting process ignores (inherited) reaches no handler: it stays
    // ignored.
    SetConsoleCtrlHandler(on_control, TRUE);
}

void console_close() {}

void console_hold_end_signals() { end_hold.store(end_held); }

bool console_release_end_signals() {
    // Nothing noted: a later signal ends the run at once. Once noted, only this thread moves
    // the state on.
    int state = end_held;
    if (end_hold.compare_exchange_strong(state, end_free) || state != end_noted) {
        return false;
    }
    end_hold.store(end_reported);
    // The waiting handler ends the process now; this thread takes no lock meanwhile.
    for (;;) {
        Sleep(INFINITE);
    }
}

bool console_is_interactive() { return the_console.interactive; }

void console_write(std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD chunk = left > 65536 ? 65536 : static_cast<DWORD>(left);
        if (!WriteFile(the_console.output_handle, data, chunk, &written, nullptr)) {
            return;  // output gone: the run goes on without it
        }
        if (written == 0) {
            // A pipe left non-blocking (PIPE_NOWAIT) by the caller takes nothing while full;
            // nothing tells when it has room again.
            Sleep(10);
            continue;
        }
        data += written;
        left -= written;
    }
}

bool console_next_key(console_key& key) {
    return the_console.interactive ? next_console_key(key) : next_stream_key(key);
}

// A Windows console never stops the process, so nothing is drawn over while it waits.
void console_set_resume_action(void (*)()) {}

// Only the console's input records are looked at: piped input is echoed without redraws,
// so nothing waits on the answer there.
bool console_character_waiting() {
    if (!the_console.interactive) {
        return false;
    }
    if (the_console.repeats_left > 0) {
        return !the_console.repeated_key.extended && the_console.repeated_key.code >= 32;
    }
    for (;;) {
        if (the_console.records_next == the_console.records_length && !fill_records(false)) {
            return false;
        }
        console_key key;
        WORD count = 1;
        if (key_of(the_console.records[the_console.records_next], key, count)) {
            return !key.extended && key.code >= 32;
        }
        ++the_console.records_next;  // gives no key: the next read would pass over it as well
    }
}

console_size console_measure() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(the_console.output_handle, &info) || info.dwSize.X <= 0 ||
        info.dwSize.Y <= 0) {
        return {};
    }
    // Lines wrap at the buffer's width, not the window's.
    return {static_cast<std::size_t>(info.dwSize.X), static_cast<std::size_t>(info.dwSize.Y)};
}

bool console_owned_alone() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1;
}
