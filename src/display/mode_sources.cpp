#include "mode_sources.h"

#include <new>

display_setting_reader display_settings_service = read_display_setting;
direct_draw_enumerator direct_draw_service = enumerate_direct_draw_modes;

mode_source mode_sources[mode_source_count] = {
    {"DirectX", direct_x_modes},
    {"GDI", gdi_modes},
    {"OpenGL", open_gl_modes},
};

namespace {

struct direct_x_gathering {
    std::int64_t depth;
    std::vector<packed_mode> modes;
};

void take_direct_draw_mode(const direct_draw_mode& mode, void* context) {
    auto& gathering = *static_cast<direct_x_gathering*>(context);
    std::int64_t bits = mode.bit_count;
    if (bits == 16 && mode.green_mask == 0x3E0u) {
        bits = 15;  // 5-5-5: the green mask tells it from 5-6-5
    }
    if (bits == gathering.depth) {
        gathering.modes.push_back(pack_mode(mode.width, mode.height));
    }
}

// The depth a GDI setting may also have to stand for the requested one; the depth itself
// when it has no partner.
std::int64_t gdi_partner_depth(std::int32_t depth) {
    switch (depth) {
        case 15:
            return 16;
        case 16:
            return 15;
        case 24:
            return 32;
        case 32:
            return 24;
        default:
            return depth;
    }
}

// One build's reading of the display settings, shared by GDI and OpenGL: on Linux each reading
// is a round of X server requests, worth doing once.
struct shared_settings_reading {
    bool held = false;
    bool taken = false;
    std::vector<display_setting> records;
};

shared_settings_reading shared_reading;

// Every setting in the platform's order. Out of memory: what was read so far is still a fair
// answer.
void read_display_settings(std::vector<display_setting>& records) {
    records.clear();
    display_setting setting;
    for (std::uint32_t index = 0; display_settings_service(index, setting); ++index) {
        records.push_back(setting);
    }
}

std::vector<packed_mode> display_settings_at(std::int64_t depth, std::int64_t partner) {
    std::vector<display_setting> own_reading;
    const std::vector<display_setting>* records = &own_reading;
    if (shared_reading.held) {
        if (!shared_reading.taken) {
            read_display_settings(shared_reading.records);
            shared_reading.taken = true;
        }
        records = &shared_reading.records;
    } else {
        read_display_settings(own_reading);
    }

    std::vector<packed_mode> modes;
    for (const display_setting& setting : *records) {
        const std::int64_t bits = setting.bits_per_pixel;
        if (bits == depth || bits == partner) {
            modes.push_back(pack_mode(setting.width, setting.height));
        }
    }
    return modes;
}

}  // namespace

void begin_mode_gathering() {
    shared_reading.held = true;
    shared_reading.taken = false;
    shared_reading.records.clear();
}

void end_mode_gathering() { shared_reading = shared_settings_reading{}; }

std::optional<std::vector<packed_mode>> direct_x_modes(std::int32_t depth) {
    direct_x_gathering gathering{depth, {}};
    if (direct_draw_service(take_direct_draw_mode, &gathering) != direct_draw_outcome::done) {
        return std::nullopt;
    }
    return std::move(gathering.modes);
}

std::optional<std::vector<packed_mode>> gdi_modes(std::int32_t depth) {
    return display_settings_at(depth, gdi_partner_depth(depth));
}

std::optional<std::vector<packed_mode>> open_gl_modes(std::int32_t depth) {
    return display_settings_at(depth, depth);
}
