// The three mode sources of the display mode list: plain filters over one reading of the
// platform's display services.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "display_settings.h"
#include "mode_list.h"

// DirectDraw's modes whose bit count is the depth; 16 bits with green mask 0x3E0 count as 15.
// Nothing when the enumeration could not run or failed.
std::optional<std::vector<packed_mode>> direct_x_modes(const display_reading& reading,
                                                       std::int32_t depth);
// The display settings at the depth, 15 and 16 standing for each other, and so 24 and 32.
std::optional<std::vector<packed_mode>> gdi_modes(const display_reading& reading,
                                                  std::int32_t depth);
// The display settings at exactly the depth.
std::optional<std::vector<packed_mode>> open_gl_modes(const display_reading& reading,
                                                      std::int32_t depth);
