// The three mode sources of the display mode list and the platform services they read.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "display_settings.h"
#include "mode_list.h"

// The platform services behind the sources; tests put scripted records in their place.
using display_setting_reader = bool (*)(std::uint32_t index, display_setting& setting);
using direct_draw_enumerator = direct_draw_outcome (*)(direct_draw_visitor visit, void* context);
extern display_setting_reader display_settings_service;
extern direct_draw_enumerator direct_draw_service;

// One build's gathering: in between, the display settings are read once and GDI and OpenGL
// both take their modes from that reading. Outside, each source reads afresh.
void begin_mode_gathering();
void end_mode_gathering();

// DirectDraw's modes whose bit count is the depth; 16 bits with green mask 0x3E0 count as 15.
std::optional<std::vector<packed_mode>> direct_x_modes(std::int32_t depth);
// The display settings at the depth, 15 and 16 standing for each other, and so 24 and 32.
std::optional<std::vector<packed_mode>> gdi_modes(std::int32_t depth);
// The display settings at exactly the depth.
std::optional<std::vector<packed_mode>> open_gl_modes(std::int32_t depth);
