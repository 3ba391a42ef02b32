// Linux stand-ins for the Windows display services. The display settings are the modes of
// the X server's connected outputs (XRandR), the libraries opened at run time so that the
// tool runs without them; DirectDraw's modes are the kernel's connector mode lists.
#include "display_settings.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

const char* drm_class_folder = "/sys/class/drm";
const char* x11_library_name = "libX11.so.6";
const char* xrandr_library_name = "libXrandr.so.2";

namespace {

struct x_functions {
    decltype(&XOpenDisplay) open_display;
    decltype(&XCloseDisplay) close_display;
    decltype(&XDefaultScreen) default_screen;
    decltype(&XDefaultDepth) default_depth;
    decltype(&XRootWindow) root_window;
    decltype(&XListPixmapFormats) list_pixmap_formats;
    decltype(&XFree) free;
    decltype(&XSetErrorHandler) set_error_handler;
    decltype(&XRRGetScreenResourcesCurrent) get_screen_resources_current;
    decltype(&XRRFreeScreenResources) free_screen_resources;
    decltype(&XRRGetOutputInfo) get_output_info;
    decltype(&XRRFreeOutputInfo) free_output_info;
};

template <typename function>
bool look_up(void* library, const char* name, function& target) {
    void* address = dlsym(library, name);
    if (address == nullptr) {
        return false;
    }
    target = reinterpret_cast<function>(address);
    return true;
}

bool look_up_all(void* x11, void* xrandr, x_functions& x) {
    return look_up(x11, "XOpenDisplay", x.open_display) &&
           look_up(x11, "XCloseDisplay", x.close_display) &&
           look_up(x11, "XDefaultScreen", x.default_screen) &&
           look_up(x11, "XDefaultDepth", x.default_depth) &&
           look_up(x11, "XRootWindow", x.root_window) &&
           look_up(x11, "XListPixmapFormats", x.list_pixmap_formats) &&
           look_up(x11, "XFree", x.free) && look_up(x11, "XSetErrorHandler", x.set_error_handler) &&
           look_up(xrandr, "XRRGetScreenResourcesCurrent", x.get_screen_resources_current) &&
           look_up(xrandr, "XRRFreeScreenResources", x.free_screen_resources) &&
           look_up(xrandr, "XRRGetOutputInfo", x.get_output_info) &&
           look_up(xrandr, "XRRFreeOutputInfo", x.free_output_info);
}

// Xlib's default handler ends the process; a vanished output must only cost its modes.
int ignore_x_error(Display*, XErrorEvent*) { return 0; }

std::uint32_t bits_per_pixel_of_depth(const x_functions& x, Display* display, int depth) {
    int format_count = 0;
    XPixmapFormatValues* formats = x.list_pixmap_formats(display, &format_count);
    auto bits = static_cast<std::uint32_t>(depth);
    for (int i = 0; formats != nullptr && i < format_count; ++i) {
        if (formats[i].depth == depth) {
            bits = static_cast<std::uint32_t>(formats[i].bits_per_pixel);
            break;
        }
    }
    if (formats != nullptr) {
        x.free(formats);
    }
    return bits;
}

void read_output_modes(const x_functions& x, Display* display, XRRScreenResources* resources,
                       RROutput output, std::uint32_t bits,
                       std::vector<display_setting>& settings) {
    XRROutputInfo* info = x.get_output_info(display, resources, output);
    if (info == nullptr) {
        return;
    }
    if (info->connection == RR_Connected) {
        for (int m = 0; m < info->nmode; ++m) {
            const RRMode id = info->modes[m];
            const XRRModeInfo* begin = resources->modes;
            const XRRModeInfo* end = begin + resources->nmode;
            const XRRModeInfo* found =
                std::find_if(begin, end, [id](const XRRModeInfo& mode) { return mode.id == id; });
            if (found != end) {
                settings.push_back({bits, found->width, found->height});
            }
        }
    }
    x.free_output_info(info);
}

void read_screen_modes(const x_functions& x, std::vector<display_setting>& settings) {
    Display* display = x.open_display(nullptr);
    if (display == nullptr) {
        return;
    }
    const auto previous_handler = x.set_error_handler(ignore_x_error);
    const int screen = x.default_screen(display);
    const std::uint32_t bits =
        bits_per_pixel_of_depth(x, display, x.default_depth(display, screen));
    // The current resources: asking for fresh ones makes the server probe the hardware.
    XRRScreenResources* resources =
        x.get_screen_resources_current(display, x.root_window(display, screen));
    if (resources != nullptr) {
        for (int o = 0; o < resources->noutput; ++o) {
            read_output_modes(x, display, resources, resources->outputs[o], bits, settings);
        }
        x.free_screen_resources(resources);
    }
    x.close_display(display);
    x.set_error_handler(previous_handler);
}

void read_x_server_modes(std::vector<display_setting>& settings) {
    const char* display_name = std::getenv("DISPLAY");
    if (display_name == nullptr || display_name[0] == '\0') {
        return;  // no X server to ask; spares loading the libraries
    }
    // Loading the libraries costs several times the whole query, and every build asks again:
    // once loaded they stay mapped (RTLD_NODELETE), so the next dlopen is only a count.
    constexpr int load_flags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
    void* x11 = dlopen(x11_library_name, load_flags);
    void* xrandr = x11 != nullptr ? dlopen(xrandr_library_name, load_flags) : nullptr;
    x_functions x{};
    if (xrandr != nullptr && look_up_all(x11, xrandr, x)) {
        read_screen_modes(x, settings);
    }
    if (xrandr != nullptr) {
        dlclose(xrandr);
    }
    if (x11 != nullptr) {
        dlclose(x11);
    }
}

// The reading taken at index 0, handed out by index until the next index 0.
std::vector<display_setting> x_settings;

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

}  // namespace

bool read_display_setting(std::uint32_t index, display_setting& setting) {
    if (index == 0) {
        x_settings.clear();
        read_x_server_modes(x_settings);
    }
    if (index >= x_settings.size()) {
        return false;
    }
    setting = x_settings[index];
    return true;
}

direct_draw_outcome enumerate_direct_draw_modes(direct_draw_visitor visit, void* context) {
    DIR* folder = opendir(drm_class_folder);
    if (folder == nullptr) {
        return direct_draw_outcome::missing;
    }
    const std::vector<std::string> names = folder_entries(folder);
    closedir(folder);

    const std::string base = std::string(drm_class_folder) + "/";
    std::string status;
    std::string modes;
    for (const std::string& name : names) {
        // Only connectors have a status; the cards themselves and other entries have none.
        if (!read_whole_file(base + name + "/status", status)) {
            continue;
        }
        if (status != "connected\n" && status != "connected") {
            continue;
        }
        if (!read_whole_file(base + name + "/modes", modes)) {
            return direct_draw_outcome::failed;
        }
        std::size_t start = 0;
        while (start < modes.size()) {
            std::size_t end = modes.find('\n', start);
            if (end == std::string::npos) {
                end = modes.size();
            }
            direct_draw_mode mode{32, 0xFF00, 0, 0};
            if (parse_kernel_mode(modes.substr(start, end - start), mode.width, mode.height)) {
                visit(mode, context);
            }
            start = end + 1;
        }
    }
    return direct_draw_outcome::done;
}
