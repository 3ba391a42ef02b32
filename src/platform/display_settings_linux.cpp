// Linux stand-ins for the Windows display services. The display settings are the modes of
// the X server's connected outputs (RandR through xcb, opened at run time so that the tool
// runs without it); DirectDraw's modes are the kernel's connector mode lists.
#include "display_settings.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "display_settings_linux.h"

namespace {

struct xcb_functions {
    decltype(&xcb_connect) connect;
    decltype(&xcb_disconnect) disconnect;
    decltype(&xcb_connection_has_error) has_error;
    decltype(&xcb_get_setup) get_setup;
    decltype(&xcb_setup_roots_iterator) roots_iterator;
    decltype(&xcb_screen_next) screen_next;
    decltype(&xcb_setup_pixmap_formats) pixmap_formats;
    decltype(&xcb_setup_pixmap_formats_length) pixmap_formats_length;
    decltype(&xcb_get_file_descriptor) file_descriptor;
    decltype(&xcb_flush) flush;
    decltype(&xcb_poll_for_reply) poll_for_reply;
    decltype(&xcb_prefetch_extension_data) prefetch_extension_data;
    decltype(&xcb_get_extension_data) get_extension_data;
    decltype(&xcb_query_extension) query_extension;
    xcb_extension_t* randr_id;
    decltype(&xcb_randr_query_version) query_version;
    decltype(&xcb_randr_get_screen_resources_current) get_resources;
    decltype(&xcb_randr_get_screen_resources_current_outputs) resource_outputs;
    decltype(&xcb_randr_get_screen_resources_current_outputs_length) resource_outputs_length;
    decltype(&xcb_randr_get_screen_resources_current_modes) resource_modes;
    decltype(&xcb_randr_get_screen_resources_current_modes_length) resource_modes_length;
    decltype(&xcb_randr_get_output_info) get_output_info;
    decltype(&xcb_randr_get_output_info_modes) output_modes;
    decltype(&xcb_randr_get_output_info_modes_length) output_modes_length;
};

template <typename symbol>
bool look_up(void* library, const char* name, symbol& target) {
    void* address = dlsym(library, name);
    if (address == nullptr) {
        return false;
    }
    target = reinterpret_cast<symbol>(address);
    return true;
}

bool look_up_all(void* xcb, void* randr, xcb_functions& f) {
    return look_up(xcb, "xcb_connect", f.connect) && look_up(xcb, "xcb_disconnect", f.disconnect) &&
           look_up(xcb, "xcb_connection_has_error", f.has_error) &&
           look_up(xcb, "xcb_get_setup", f.get_setup) &&
           look_up(xcb, "xcb_setup_roots_iterator", f.roots_iterator) &&
           look_up(xcb, "xcb_screen_next", f.screen_next) &&
           look_up(xcb, "xcb_setup_pixmap_formats", f.pixmap_formats) &&
           look_up(xcb, "xcb_setup_pixmap_formats_length", f.pixmap_formats_length) &&
           look_up(xcb, "xcb_get_file_descriptor", f.file_descriptor) &&
           look_up(xcb, "xcb_flush", f.flush) &&
           look_up(xcb, "xcb_poll_for_reply", f.poll_for_reply) &&
           look_up(xcb, "xcb_prefetch_extension_data", f.prefetch_extension_data) &&
           look_up(xcb, "xcb_get_extension_data", f.get_extension_data) &&
           look_up(xcb, "xcb_query_extension", f.query_extension) &&
           look_up(randr, "xcb_randr_id", f.randr_id) &&
           look_up(randr, "xcb_randr_query_version", f.query_version) &&
           look_up(randr, "xcb_randr_get_screen_resources_current", f.get_resources) &&
           look_up(randr, "xcb_randr_get_screen_resources_current_outputs", f.resource_outputs) &&
           look_up(randr, "xcb_randr_get_screen_resources_current_outputs_length",
                   f.resource_outputs_length) &&
           look_up(randr, "xcb_randr_get_screen_resources_current_modes", f.resource_modes) &&
           look_up(randr, "xcb_randr_get_screen_resources_current_modes_length",
                   f.resource_modes_length) &&
           look_up(randr, "xcb_randr_get_output_info", f.get_output_info) &&
           look_up(randr, "xcb_randr_get_output_info_modes", f.output_modes) &&
           look_up(randr, "xcb_randr_get_output_info_modes_length", f.output_modes_length);
}

// How long the X server may take, connecting and every reply of a run together. A server on
// this machine answers within milliseconds and one behind an SSH forward within a second or
// so; four seconds leave a busy or distant server room, while a stale DISPLAY (a dead
// forward, a stopped server that left its socket) costs the start no more than that pause.
constexpr std::int64_t x_server_wait_ms = 4000;

// The one X connection of a run. A connection that failed stays failed: the server is not
// asked twice to accept us. Nor is one that let the deadline pass.
struct x_link {
    bool tried = false;
    xcb_functions f{};
    xcb_connection_t* connection = nullptr;
    int screen_number = 0;
    std::int64_t deadline_ms = 0;  // on the monotonic clock
    bool randr_asked = false;      // xcb keeps the answer for the connection
    bool randr_present = false;
};

// The kernel's display folder, listed once a run: connectors come and go with the hardware,
// not between the two passes. Their status and modes are read afresh by every reading.
struct kernel_folder {
    bool listed = false;
    bool found = false;
    std::vector<std::string> entries;  // sorted by name
};

// What the display services hold for a run: taken by the first reading, kept until they
// are released.
struct display_services {
    x_link x;
    kernel_folder kernel;
};

display_services held;

std::int64_t monotonic_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Milliseconds left before the deadline, 0 once it has passed.
int x_time_left_ms() {
    const std::int64_t left = held.x.deadline_ms - monotonic_ms();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for fd to become ready for events until the deadline; false when it passed first.
bool ready_in_time(int fd, short events) {
    for (;;) {
        pollfd wanted{fd, events, 0};
        const int ready = poll(&wanted, 1, x_time_left_ms());
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

// xcb_connect waits without a limit: for a connect() to a server that drops the request, and
// for the setup reply. From the deadline on, an alarm, repeated until xcb returns, interrupts
// a connect() (no SA_RESTART: xcb gives that address up) and shuts xcb's socket down under
// its wait for the setup, which xcb then sees end. That socket's number is known before the
// call: a new descriptor takes the lowest free number; the name lookup for TCP closes what it
// opens, a failed try is closed before the next, and the authority file is opened after.
// Only a stream socket is xcb's: while a host name is looked up, the same number is the
// resolver's datagram socket, which the resolver would poll in a busy loop once shut down.
volatile sig_atomic_t socket_under_alarm = -1;

void shut_socket_down(int) {
    const int saved_errno = errno;
    int type = 0;
    socklen_t length = sizeof type;
    if (getsockopt(socket_under_alarm, SOL_SOCKET, SO_TYPE, &type, &length) == 0 &&
        type == SOCK_STREAM) {
        shutdown(socket_under_alarm, SHUT_RDWR);
    }
    errno = saved_errno;
}

int lowest_free_descriptor() {
    int fd = 0;
    while (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
        ++fd;
    }
    return fd;
}

xcb_connection_t* connect_xcb_in_time() {
    socket_under_alarm = lowest_free_descriptor();
    struct sigaction on_alarm {};
    on_alarm.sa_handler = shut_socket_down;
    sigemptyset(&on_alarm.sa_mask);
    struct sigaction action_before {};
    sigaction(SIGALRM, &on_alarm, &action_before);
    sigset_t alarm_only;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    sigset_t mask_before;
    sigprocmask(SIG_UNBLOCK, &alarm_only, &mask_before);  // a caller may hand it on blocked
    const int left = std::max(x_time_left_ms(), 1);
    itimerval timer{};
    timer.it_value.tv_sec = left / 1000;
    timer.it_value.tv_usec = static_cast<suseconds_t>(left % 1000) * 1000;
    timer.it_interval.tv_usec = 100000;  // each further address xcb tries
    itimerval timer_before{};
    setitimer(ITIMER_REAL, &timer, &timer_before);

    xcb_connection_t* connection = held.x.f.connect(nullptr, &held.x.screen_number);

    const itimerval stopped{};
    setitimer(ITIMER_REAL, &stopped, nullptr);
    sigaction(SIGALRM, &action_before, nullptr);
    sigprocmask(SIG_SETMASK, &mask_before, nullptr);
    setitimer(ITIMER_REAL, &timer_before, nullptr);
    socket_under_alarm = -1;
    return connection;
}

void open_x_link() {
    held.x.tried = true;
    const char* display_name = std::getenv("DISPLAY");
    if (display_name == nullptr || display_name[0] == '\0') {
        return;  // no X server to ask; spares loading the libraries
    }
    // Kept mapped once loaded: the connection outlives any one reading.
    constexpr int load_flags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
    void* xcb = dlopen(display_places().xcb_library, load_flags);
    void* randr = xcb != nullptr ? dlopen(display_places().xcb_randr_library, load_flags) : nullptr;
    const bool found = randr != nullptr && look_up_all(xcb, randr, held.x.f);
    if (found) {
        held.x.deadline_ms = monotonic_ms() + x_server_wait_ms;
        held.x.connection = connect_xcb_in_time();
    }
    if (randr != nullptr) {
        dlclose(randr);
    }
    if (xcb != nullptr) {
        dlclose(xcb);
    }
}

// Lets go of a connection whose server let the deadline pass: it gives nothing more this run.
void drop_x_link() {
    held.x.f.disconnect(held.x.connection);
    held.x.connection = nullptr;
}

// The reply (or error) to a request, or nullptr when none came before the deadline or the
// connection ended; a server that let the deadline pass is dropped. Replies arrive in the
// order of their requests, so once this one is in, every earlier one is in xcb's hands too.
void* reply_in_time(unsigned int sequence) {
    if (held.x.f.flush(held.x.connection) <= 0) {
        return nullptr;
    }
    const int fd = held.x.f.file_descriptor(held.x.connection);
    for (;;) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (held.x.f.poll_for_reply(held.x.connection, sequence, &reply, &error) != 0) {
            std::free(error);
            return reply;
        }
        if (!ready_in_time(fd, POLLIN)) {
            drop_x_link();
            return nullptr;
        }
    }
}
const xcb_screen_t* find_screen(const xcb_setup_t* setup, int number) {
    xcb_screen_iterator_t screens = held.x.f.roots_iterator(setup);
    for (int i = 0; screens.rem > 0; ++i, held.x.f.screen_next(&screens)) {
        if (i == number) {
            return screens.data;
        }
    }
    return nullptr;
}

std::uint32_t bits_per_pixel_of_depth(const xcb_setup_t* setup, std::uint8_t depth) {
    const xcb_format_t* formats = held.x.f.pixmap_formats(setup);
    const int count = held.x.f.pixmap_formats_length(setup);
    for (int i = 0; i < count; ++i) {
        if (formats[i].depth == depth) {
            return formats[i].bits_per_pixel;
        }
    }
    return depth;
}

// The modes of every connected output, asked in one round of requests. Replies that do not
// come (an output gone, the server gone or past the deadline) only cost their own modes.
void read_output_modes(const xcb_randr_get_screen_resources_current_reply_t* resources,
                       std::uint32_t bits, std::vector<display_setting>& settings) {
    const xcb_randr_output_t* outputs = held.x.f.resource_outputs(resources);
    const int output_count = held.x.f.resource_outputs_length(resources);
    const xcb_randr_mode_info_t* modes_begin = held.x.f.resource_modes(resources);
    const xcb_randr_mode_info_t* modes_end =
        modes_begin + held.x.f.resource_modes_length(resources);

    std::vector<xcb_randr_get_output_info_cookie_t> asked;
    asked.reserve(static_cast<std::size_t>(output_count));
    for (int o = 0; o < output_count; ++o) {
        asked.push_back(
            held.x.f.get_output_info(held.x.connection, outputs[o], resources->config_timestamp));
    }
    for (const xcb_randr_get_output_info_cookie_t cookie : asked) {
        if (held.x.connection == nullptr) {
            return;
        }
        auto* info =
            static_cast<xcb_randr_get_output_info_reply_t*>(reply_in_time(cookie.sequence));
        if (info == nullptr) {
            continue;
        }
        if (info->connection == XCB_RANDR_CONNECTION_CONNECTED) {
            const xcb_randr_mode_t* ids = held.x.f.output_modes(info);
            const int id_count = held.x.f.output_modes_length(info);
            for (int m = 0; m < id_count; ++m) {
                const xcb_randr_mode_t id = ids[m];
                const xcb_randr_mode_info_t* found =
                    std::find_if(modes_begin, modes_end,
                                 [id](const xcb_randr_mode_info_t& mode) { return mode.id == id; });
                if (found != modes_end) {
                    settings.push_back({bits, found->width, found->height});
                }
            }
        }
        std::free(info);
    }
}

// Whether the server has RandR. xcb would wait for its extension query without a limit, so
// it is sent ahead and a query of our own after it is awaited: when that reply is in, xcb's
// is too, and neither xcb_get_extension_data nor the RandR requests wait any more.
bool has_randr_in_time() {
    if (held.x.randr_asked) {
        return held.x.randr_present;
    }
    held.x.f.prefetch_extension_data(held.x.connection, held.x.f.randr_id);
    static constexpr char randr_name[] = "RANDR";
    const xcb_query_extension_cookie_t asked =
        held.x.f.query_extension(held.x.connection, sizeof randr_name - 1, randr_name);
    void* reply = reply_in_time(asked.sequence);
    const bool answered = reply != nullptr;
    std::free(reply);
    if (!answered || held.x.connection == nullptr) {
        return false;
    }
    const xcb_query_extension_reply_t* randr =
        held.x.f.get_extension_data(held.x.connection, held.x.f.randr_id);
    held.x.randr_asked = true;
    held.x.randr_present = randr != nullptr && randr->present != 0;
    return held.x.randr_present;  // asking an absent extension would end the connection
}

void read_x_server_modes(std::vector<display_setting>& settings) {
    if (!held.x.tried) {
        open_x_link();
    }
    if (held.x.connection == nullptr || held.x.f.has_error(held.x.connection) != 0) {
        return;
    }
    if (!has_randr_in_time()) {
        return;
    }
    const xcb_setup_t* setup = held.x.f.get_setup(held.x.connection);
    const xcb_screen_t* screen = find_screen(setup, held.x.screen_number);
    if (screen == nullptr) {
        return;
    }
    const std::uint32_t bits = bits_per_pixel_of_depth(setup, screen->root_depth);

    // The version first, as every RandR client must; both requests go out together. The
    // current resources: asking for fresh ones makes the server probe the hardware.
    const xcb_randr_query_version_cookie_t version_asked =
        held.x.f.query_version(held.x.connection, XCB_RANDR_MAJOR_VERSION, XCB_RANDR_MINOR_VERSION);
    const xcb_randr_get_screen_resources_current_cookie_t resources_asked =
        held.x.f.get_resources(held.x.connection, screen->root);
    std::free(reply_in_time(version_asked.sequence));
    if (held.x.connection == nullptr) {
        return;
    }
    auto* resources = static_cast<xcb_randr_get_screen_resources_current_reply_t*>(
        reply_in_time(resources_asked.sequence));
    if (resources != nullptr) {
        read_output_modes(resources, bits, settings);
        std::free(resources);
    }
}
bool read_whole_file(const std::string& path, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    text.clear();
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// Reads the leading decimal number of text at position; false when there is none.
bool read_number(const std::string& text, std::size_t& position, std::uint32_t& number) {
    const std::size_t start = position;
    std::uint64_t value = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
        value = value * 10 + static_cast<std::uint64_t>(text[position] - '0');
        if (value > UINT32_MAX) {
            return false;
        }
        ++position;
    }
    number = static_cast<std::uint32_t>(value);
    return position > start;
}

// "1920x1080", possibly followed by a suffix such as "i"; other lines are passed over.
bool parse_kernel_mode(const std::string& line, std::uint32_t& width, std::uint32_t& height) {
    std::size_t position = 0;
    if (!read_number(line, position, width) || position >= line.size() || line[position] != 'x') {
        return false;
    }
    ++position;
    return read_number(line, position, height);
}

std::vector<std::string> folder_entries(DIR* folder) {
    std::vector<std::string> names;
    while (const dirent* entry = readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void list_kernel_folder() {
    held.kernel.listed = true;
    DIR* folder = opendir(display_places().drm_class_folder);
    if (folder == nullptr) {
        return;
    }
    held.kernel.found = true;
    held.kernel.entries = folder_entries(folder);
    closedir(folder);
}

direct_draw_outcome read_kernel_modes(std::vector<direct_draw_mode>& modes) {
    if (!held.kernel.listed) {
        list_kernel_folder();
    }
    if (!held.kernel.found) {
        return direct_draw_outcome::missing;
    }
    const std::string base = std::string(display_places().drm_class_folder) + "/";
    std::string status;
    std::string listing;
    for (const std::string& name : held.kernel.entries) {
        // Only connectors have a status; the cards themselves and other entries have none.
        if (!read_whole_file(base + name + "/status", status)) {
            continue;
        }
        if (status != "connected\n" && status != "connected") {
            continue;
        }
        if (!read_whole_file(base + name + "/modes", listing)) {
            return direct_draw_outcome::failed;
        }
        std::size_t start = 0;
        while (start < listing.size()) {
            std::size_t end = listing.find('\n', start);
            if (end == std::string::npos) {
                end = listing.size();
            }
            direct_draw_mode mode{32, 0xFF00, 0, 0};
            if (parse_kernel_mode(listing.substr(start, end - start), mode.width, mode.height)) {
                modes.push_back(mode);
            }
            start = end + 1;
        }
    }
    return direct_draw_outcome::done;
}

}  // namespace

void read_display_services(display_reading& reading) {
    reading.settings.clear();
    read_x_server_modes(reading.settings);
    reading.direct_draw_modes.clear();
    reading.direct_draw = read_kernel_modes(reading.direct_draw_modes);
}

void release_display_services() {
    if (held.x.connection != nullptr) {
        held.x.f.disconnect(held.x.connection);
    }
    held = display_services{};
}
