// The console on a POSIX terminal: raw keys without echo, restored on every way out.
#include <fcntl.h>
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

// Everything the console holds for the run. The signal handlers read raw_mode_on, resumed
// and the end signal hold, hence volatile sig_atomic_t; the two modes they also read are
// written before raw_mode_on is first set, and never after.
struct posix_console {
    bool opened = false;
    bool interactive = false;
    volatile sig_atomic_t raw_mode_on = 0;
    termios saved_mode{};
    termios raw_mode{};

    terminal_key_decoder terminal_decoder;
    stream_key_decoder stream_decoder;

    std::uint8_t input[256] = {};
    std::size_t input_length = 0;
    std::size_t input_next = 0;

    // A key decoded ahead by console_character_waiting, handed out next.
    bool key_ahead = false;
    console_key ahead;

    // Set by the continue handler, taken by the wait for a key.
    volatile sig_atomic_t resumed = 0;
    void (*resume_action)() = nullptr;

    // While the write is done and reported, an end signal is only noted here.
    volatile sig_atomic_t end_held = 0;
    volatile sig_atomic_t end_noted = 0;
};

posix_console the_console;

void restore_terminal() {
    if (the_console.raw_mode_on) {
        tcsetattr(STDIN_FILENO, TCSANOW, &the_console.saved_mode);
    }
}

// Interrupt, termination and hang-up end the run at once, like a closed console: the
// terminal is given back and the process ends with status 0. During the write and its report
// the signal is only noted, and the run ends once the user has been told how the write went.
void on_end_signal(int) {
    if (the_console.end_held != 0) {
        the_console.end_noted = 1;
        return;
    }
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

// A signal that the starting process ignores stays ignored: whoever started the run so
// (nohup, a script's background job, a shell's own choice) meant it not to end the run.
void take_signal(int signal_number, void (*handler)(int)) {
    struct sigaction inherited = {};
    if (sigaction(signal_number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) {
        return;
    }
    install_handler(signal_number, handler);
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
// terminal is taken again and the line redrawn only when it goes on in the foreground.
// Continued in the background (bg, kill -CONT), it stops again at once, as the system stops
// a background job that reads from its terminal: nothing is drawn over the shell, and no
// wait spins. fg continues it once more, and this handler runs anew. Where the stop cannot
// happen (the signal ignored, an orphaned job) it goes on waiting for keys, drawing nothing.
void on_continue_signal(int) {
    const int saved_errno = errno;
    if (the_console.raw_mode_on) {
        if (tcgetpgrp(STDIN_FILENO) == getpgrp()) {
            tcsetattr(STDIN_FILENO, TCSANOW, &the_console.raw_mode);
            the_console.resumed = 1;
        } else {
            raise(SIGTTIN);
        }
    }
    errno = saved_errno;
}

// Runs the resume action once after the process went on.
void take_resume() {
    if (the_console.resumed != 0) {
        the_console.resumed = 0;
        if (the_console.resume_action != nullptr) {
            the_console.resume_action();
        }
    }
}

// Blocks the continue signal, keeping the mask it replaced in before, and gives the mask
// under which a wait lets the signal in again.
sigset_t hold_continue_signal(sigset_t& before) {
    sigset_t continue_signal;
    sigemptyset(&continue_signal);
    sigaddset(&continue_signal, SIGCONT);
    sigprocmask(SIG_BLOCK, &continue_signal, &before);
    sigset_t during = before;
    sigdelset(&during, SIGCONT);
    return during;
}

// Waits at most timeout_ms (-1: for ever) for input. The continue signal is blocked from
// before the look at the resumed flag until the wait starts, and the wait lets it in: a
// resume that lands in between interrupts the wait at once instead of waiting for a key.
int wait_for_input(int timeout_ms) {
    sigset_t before;
    const sigset_t during = hold_continue_signal(before);
    timespec limit{timeout_ms / 1000, static_cast<long>(timeout_ms % 1000) * 1000000L};
    pollfd p = {STDIN_FILENO, POLLIN, 0};
    int ready = 0;
    for (;;) {
        take_resume();
        ready = ppoll(&p, 1, timeout_ms < 0 ? nullptr : &limit, &during);
        if (ready >= 0 || errno != EINTR) {
            break;
        }
    }
    const int saved_errno = errno;
    sigprocmask(SIG_SETMASK, &before, nullptr);
    errno = saved_errno;
    return ready;
}

// How often a run in the background looks whether it has the terminal again.
constexpr int foreground_look_ms = 150;

bool in_background() {
    const pid_t foreground = tcgetpgrp(STDIN_FILENO);
    return foreground >= 0 && foreground != getpgrp();
}

// A run in the background whose caller ignores SIGTTIN (or an orphaned job) is refused its
// read instead of being stopped. It waits, looking now and then and at every continue signal,
// until it has the terminal again; then the terminal gets its raw mode back and the line is
// drawn again, as after fg. False when the terminal is gone.
bool wait_for_foreground() {
    sigset_t before;
    const sigset_t during = hold_continue_signal(before);
    const timespec look{0, foreground_look_ms * 1000000L};
    bool back = false;
    for (;;) {
        const pid_t foreground = tcgetpgrp(STDIN_FILENO);
        if (foreground < 0) {
            break;
        }
        if (foreground == getpgrp()) {
            if (the_console.raw_mode_on) {
                tcsetattr(STDIN_FILENO, TCSANOW, &the_console.raw_mode);
            }
            the_console.resumed = 1;
            back = true;
            break;
        }
        ppoll(nullptr, 0, &look, &during);
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return back;
}

// Refills the input buffer; waits at most timeout_ms (-1: for ever). False at the end of
// input, or when the wait ran out.
bool fill_input(int timeout_ms) {
    // A refused read seen in the foreground may have raced a fg; it is tried once more.
    bool retried = false;
    for (;;) {
        if (wait_for_input(timeout_ms) <= 0) {
            return false;
        }
        ssize_t n;
        do {
            n = read(STDIN_FILENO, the_console.input, sizeof the_console.input);
        } while (n < 0 && errno == EINTR);
        if (n > 0) {
            the_console.input_length = static_cast<std::size_t>(n);
            the_console.input_next = 0;
            return true;
        }
        // Input left non-blocking by the caller, read by another process first: wait on.
        if (n < 0 && errno == EAGAIN) {
            continue;
        }
        if (n < 0 && errno == EIO && timeout_ms < 0 && the_console.interactive) {
            if (in_background()) {
                if (wait_for_foreground()) {
                    continue;
                }
            } else if (!retried) {
                retried = true;
                continue;
            }
        }
        return false;
    }
}

bool next_terminal_key(console_key& key) {
    for (;;) {
        if (the_console.input_next == the_console.input_length) {
            const int timeout =
                terminal_keys_waiting(the_console.terminal_decoder) ? escape_wait_ms : -1;
            if (!fill_input(timeout)) {
                if (timeout < 0) {
                    return false;
                }
                if (terminal_keys_flush(the_console.terminal_decoder, key)) {
                    return true;
                }
                continue;
            }
        }
        if (terminal_keys_feed(the_console.terminal_decoder,
                               the_console.input[the_console.input_next++], key)) {
            return true;
        }
    }
}

bool next_stream_key(console_key& key) {
    for (;;) {
        if (the_console.input_next == the_console.input_length && !fill_input(-1)) {
            return false;
        }
        if (stream_keys_feed(the_console.stream_decoder,
                             the_console.input[the_console.input_next++], key)) {
            return true;
        }
    }
}

// The next key from bytes already read or readable now; never waits.
bool key_at_hand(console_key& key) {
    for (;;) {
        if (the_console.input_next == the_console.input_length && !fill_input(0)) {
            return false;
        }
        const std::uint8_t byte = the_console.input[the_console.input_next++];
        if (the_console.interactive ? terminal_keys_feed(the_console.terminal_decoder, byte, key)
                                    : stream_keys_feed(the_console.stream_decoder, byte, key)) {
            return true;
        }
    }
}

}  // namespace

bool console_fill_closed_streams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        int opened;
        do {
            opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        } while (opened < 0 && errno == EINTR);
        // The lowest free number is taken, and every lower standard stream is open by now.
        if (opened != fd) {
            return false;
        }
    }
    return true;
}

void console_open() {
    if (the_console.opened) {
        return;
    }
    the_console.opened = true;
    // Output to a closed pipe must not end the run with a signal.
    signal(SIGPIPE, SIG_IGN);
    take_signal(SIGINT, on_end_signal);
    take_signal(SIGTERM, on_end_signal);
    take_signal(SIGHUP, on_end_signal);
    take_signal(SIGQUIT, on_end_signal);
    the_console.interactive = isatty(STDIN_FILENO) != 0;
    if (!the_console.interactive || tcgetattr(STDIN_FILENO, &the_console.saved_mode) != 0) {
        return;
    }
    the_console.raw_mode = the_console.saved_mode;
    // No echo, no line editing by the terminal, bytes as typed; Ctrl+C still signals.
    the_console.raw_mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON | IEXTEN);
    the_console.raw_mode.c_iflag &= ~static_cast<tcflag_t>(ICRNL | INLCR | IGNCR | IXON | ISTRIP);
    // Output bytes go out as written: CR LF must not become CR CR LF.
    the_console.raw_mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    the_console.raw_mode.c_cc[VMIN] = 1;
    the_console.raw_mode.c_cc[VTIME] = 0;
    take_signal(SIGTSTP, on_stop_signal);
    // Always taken: an ignored SIGCONT does not keep the process stopped, it only drops what
    // a handler would do, and this one gives the terminal its raw mode back.
    install_handler(SIGCONT, on_continue_signal);
    the_console.raw_mode_on = tcsetattr(STDIN_FILENO, TCSANOW, &the_console.raw_mode) == 0;
    std::atexit(console_close);
}

void console_close() {
    restore_terminal();
    the_console.raw_mode_on = false;
}

void console_hold_end_signals() {
    the_console.end_noted = 0;
    the_console.end_held = 1;
}

bool console_release_end_signals() {
    // A signal after this line ends the run at once, with all said by then.
    the_console.end_held = 0;
    return the_console.end_noted != 0;
}

bool console_is_interactive() { return the_console.interactive; }

namespace {

// Waits until output takes bytes again. A closed reader or an error also ends the wait: the
// write that follows reports it. False when output cannot be waited for.
bool wait_for_output() {
    pollfd p = {STDOUT_FILENO, POLLOUT, 0};
    int ready;
    do {
        ready = poll(&p, 1, -1);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

}  // namespace

void console_write(std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = write(STDOUT_FILENO, data, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // Non-blocking output (programs share that flag) that is full for now.
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && wait_for_output()) {
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
    if (the_console.key_ahead) {
        the_console.key_ahead = false;
        key = the_console.ahead;
        return true;
    }
    return the_console.interactive ? next_terminal_key(key) : next_stream_key(key);
}

void console_set_resume_action(void (*action)()) { the_console.resume_action = action; }

bool console_character_waiting() {
    if (!the_console.key_ahead) {
        the_console.key_ahead = key_at_hand(the_console.ahead);
    }
    return the_console.key_ahead && !the_console.ahead.extended && the_console.ahead.code >= 32;
}

console_size console_measure() {
    winsize size{};
    if (isatty(STDOUT_FILENO) == 0 || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) {
        return {};
    }
    return {size.ws_col, size.ws_row};
}

// A terminal outlives the programs run in it.
bool console_owned_alone() { return false; }
