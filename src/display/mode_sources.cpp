#include "mode_sources.h"

mode_source mode_sources[mode_source_count] = {
    {"DirectX", direct_x_modes},
    {"GDI", gdi_modes},
    {"OpenGL", open_gl_modes},
};

namespace {

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

std::vector<packed_mode> settings_at(const display_reading& reading, std::int64_t depth,
                                     std::int64_t partner) {
    std::vector<packed_mode> modes;
    for (const display_setting& setting : reading.settings) {
        const std::int64_t bits = setting.bits_per_pixel;
        if (bits == depth || bits == partner) {
            modes.push_back(pack_mode(setting.width, setting.height));
        }
    }
    return modes;
}

}  // namespace

std::optional<std::vector<packed_mode>> direct_x_modes(const display_reading& reading,
                                                       std::int32_t depth) {
    if (reading.direct_draw != direct_draw_outcome::done) {
        return std::nullopt;
    }
    std::vector<packed_mode> modes;
    for (const direct_draw_mode& mode : reading.direct_draw_modes) {
        std::int64_t bits = mode.bit_count;
        if (bits == 16 && mode.green_mask == 0x3E0u) {
            bits = 15;  // 5-5-5: the green mask tells it from 5-6-5
        }
        if (bits == depth) {
            modes.push_back(pack_mode(mode.width, mode.height));
        }
    }
    return modes;
}

std::optional<std::vector<packed_mode>> gdi_modes(const display_reading& reading,
                                                  std::int32_t depth) {
    return settings_at(reading, depth, gdi_partner_depth(depth));
}

std::optional<std::vector<packed_mode>> open_gl_modes(const display_reading& reading,
                                                      std::int32_t depth) {
    return settings_at(reading, depth, depth);
}
