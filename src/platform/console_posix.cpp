// The console on a POSIX terminal: raw keys without echo, restored on every way out.
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "console.h"
#include "terminal_keys.h"

namespace {

// How long the byte after an Esc may take to still count as part of a sequence.
constexpr int escape_wait_ms = 50;

bool opened = false;
bool interactive = false;
bool raw_mode_on = false;
termios saved_mode;
termios raw_mode;

terminal_key_decoder terminal_decoder;
stream_key_decoder stream_decoder;

std::uint8_t input[256];
std::size_t input_length = 0;
std::size_t input_next = 0;

// A key decoded ahead by console_character_waiting, handed out next.
bool key_ahead = false;
console_key ahead;

// Set by the continue handler, taken by the wait for a key.
volatile sig_atomic_t resumed = 0;
void (*resume_action)() = nullptr;

void restore_terminal() {
    if (raw_mode_on) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved_mode);
    }
}

// Interrupt, termination and hang-up end the run at once, like a closed console: the
// terminal is given back and the process ends with status 0.
void on_end_signal(int) {
    restore_terminal();
    _exit(0);
}

void install_handler(int signal_number, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

// Ctrl+Z: the terminal is given back, then the process stops as it would without a handler.
// The signal is blocked while its handler runs, so it is raised with the default action and
// unblocked; the process stops inside raise and goes on from there when continued.
void on_stop_signal(int) {
    const int saved_errno = errno;
    restore_terminal();
    install_handler(SIGTSTP, SIG_DFL);
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &stop, nullptr);
    raise(SIGTSTP);
    // Continued. A further Ctrl+Z waits until this handler has returned.
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    install_handler(SIGTSTP, on_stop_signal);
    errno = saved_errno;
}

// However the process was stopped (Ctrl+Z, kill -STOP, reading in the background), the
// terminal is taken again when it goes on in the foreground. In the background the next
// read stops it for terminal input, and it comes back here when brought to the foreground.
void on_continue_signal(int) {
    const int saved_errno = errno;
    if (raw_mode_on && tcgetpgrp(STDIN_FILENO) == getpgrp()) {
        tcsetattr(STDIN_FILENO, TCSANOW, &raw_mode);
    }
    resumed = 1;
    errno = saved_errno;
}

// Runs the resume action once after the process went on.
void take_resume() {
    if (resumed != 0) {
        resumed = 0;
        if (resume_action != nullptr) {
            resume_action();
        }
    }
}

// Refills the input buffer; waits at most timeout_ms (-1: for ever). False at the end of
// input, or when the wait ran out. The wait is a poll, which a signal handler always
// interrupts: a continue handler that ran during the wait is acted on at once.
bool fill_input(int timeout_ms) {
    pollfd p = {STDIN_FILENO, POLLIN, 0};
    for (;;) {
        take_resume();
        const int ready = poll(&p, 1, timeout_ms);
        if (ready > 0) {
            break;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
    ssize_t n;
    do {
        n = read(STDIN_FILENO, input, sizeof input);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
        return false;
    }
    input_length = static_cast<std::size_t>(n);
    input_next = 0;
    return true;
}

bool next_terminal_key(console_key& key) {
    for (;;) {
        if (input_next == input_length) {
            const int timeout = terminal_keys_waiting(terminal_decoder) ? escape_wait_ms : -1;
            if (!fill_input(timeout)) {
                if (timeout < 0) {
                    return false;
                }
                if (terminal_keys_flush(terminal_decoder, key)) {
                    return true;
                }
                continue;
            }
        }
        if (terminal_keys_feed(terminal_decoder, input[input_next++], key)) {
            return true;
        }
    }
}

bool next_stream_key(console_key& key) {
    for (;;) {
        if (input_next == input_length && !fill_input(-1)) {
            return false;
        }
        if (stream_keys_feed(stream_decoder, input[input_next++], key)) {
            return true;
        }
    }
}

// The next key from bytes already read or readable now; never waits.
bool key_at_hand(console_key& key) {
    for (;;) {
        if (input_next == input_length && !fill_input(0)) {
            return false;
        }
        const std::uint8_t byte = input[input_next++];
        if (interactive ? terminal_keys_feed(terminal_decoder, byte, key)
                        : stream_keys_feed(stream_decoder, byte, key)) {
            return true;
        }
    }
}

}  // namespace

void console_open() {
    if (opened) {
        return;
    }
    opened = true;
    // Output to a closed pipe must not end the run with a signal.
    signal(SIGPIPE, SIG_IGN);
    install_handler(SIGINT, on_end_signal);
    install_handler(SIGTERM, on_end_signal);
    install_handler(SIGHUP, on_end_signal);
    install_handler(SIGQUIT, on_end_signal);
    interactive = isatty(STDIN_FILENO) != 0;
    if (!interactive || tcgetattr(STDIN_FILENO, &saved_mode) != 0) {
        return;
    }
    raw_mode = saved_mode;
    // No echo, no line editing by the terminal, bytes as typed; Ctrl+C still signals.
    raw_mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN);
    raw_mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
    // Output bytes go out as written: CR LF must not become CR CR LF.
    raw_mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    raw_mode.c_cc[VMIN] = 1;
    raw_mode.c_cc[VTIME] = 0;
    // A stop signal that the starting shell ignores stays ignored.
    struct sigaction inherited = {};
    if (sigaction(SIGTSTP, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN) {
        install_handler(SIGTSTP, on_stop_signal);
    }
    install_handler(SIGCONT, on_continue_signal);
    raw_mode_on = tcsetattr(STDIN_FILENO, TCSANOW, &raw_mode) == 0;
    std::atexit(console_close);
}

void console_close() {
    restore_terminal();
    raw_mode_on = false;
}

bool console_is_interactive() { return interactive; }

void console_write(std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = write(STDOUT_FILENO, data, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // output gone: the run goes on without it
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

bool console_next_key(console_key& key) {
    if (key_ahead) {
        key_ahead = false;
        key = ahead;
        return true;
    }
    return interactive ? next_terminal_key(key) : next_stream_key(key);
}

void console_set_resume_action(void (*action)()) { resume_action = action; }

bool console_character_waiting() {
    if (!key_ahead) {
        key_ahead = key_at_hand(ahead);
    }
    return key_ahead && !ahead.extended && ahead.code >= 32;
}

std::size_t console_columns() {
    winsize size{};
    if (isatty(STDOUT_FILENO) == 0 || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

// A terminal outlives the programs run in it.
bool console_owned_alone() { return false; }
