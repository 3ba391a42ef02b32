// The real Windows services: the run's list at 32 bits per pixel must be exactly the distinct
// sizes that EnumDisplaySettingsA offers at 24 or 32 bits together with DirectDraw's 32-bit
// modes, asked here directly in the same process.
#include "display_settings.h"
#include "mode_list.h"

#include <windows.h>

#include <ddraw.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <utility>
#include <vector>

namespace {

using size_pair = std::pair<std::uint64_t, std::uint64_t>;

struct mode_record {
    std::uint32_t bits, green_mask, width, height;
    bool operator==(const mode_record&) const = default;
};

std::vector<mode_record> settings_from_windows() {
    std::vector<mode_record> records;
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    for (DWORD index = 0; EnumDisplaySettingsA(nullptr, index, &mode) != 0; ++index) {
        records.push_back({mode.dmBitsPerPel, 0, mode.dmPelsWidth, mode.dmPelsHeight});
        mode = DEVMODEA{};
        mode.dmSize = sizeof mode;
    }
    return records;
}

HRESULT CALLBACK collect_mode(LPDDSURFACEDESC description, LPVOID context) {
    static_cast<std::vector<mode_record>*>(context)->push_back(
        {description->ddpfPixelFormat.dwRGBBitCount, description->ddpfPixelFormat.dwGBitMask,
         description->dwWidth, description->dwHeight});
    return DDENUMRET_OK;
}

// DirectDraw's modes, or false when it cannot be reached or its enumeration fails.
bool direct_draw_from_windows(std::vector<mode_record>& records) {
    HMODULE library = LoadLibraryA("ddraw.dll");
    if (library == nullptr) {
        return false;
    }
    using create_function = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);
    const auto create = reinterpret_cast<create_function>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DirectDrawCreate")));
    bool listed = false;
    IDirectDraw* first = nullptr;
    if (create != nullptr && create(nullptr, &first, nullptr) == DD_OK) {
        const GUID direct_draw2_id = {
            0xB3A6F3E0, 0x2B43, 0x11CF, {0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
        void* second = nullptr;
        const HRESULT asked = first->QueryInterface(direct_draw2_id, &second);
        first->Release();
        if (asked == S_OK) {
            auto* direct_draw2 = static_cast<IDirectDraw2*>(second);
            listed = direct_draw2->EnumDisplayModes(DDEDM_STANDARDVGAMODES, nullptr, &records,
                                                    collect_mode) == DD_OK;
            direct_draw2->Release();
        }
    }
    FreeLibrary(library);
    return listed;
}

void print_records(const char* service, const std::vector<mode_record>& records) {
    std::printf("%s: %zu modes\n", service, records.size());
    for (const mode_record& r : records) {
        std::printf("  %u bits (green %#x) %ux%u\n", r.bits, r.green_mask, r.width, r.height);
    }
}

TEST(real_display_services, platform_layer_reports_what_windows_reports) {
    const std::vector<mode_record> settings = settings_from_windows();
    print_records("EnumDisplaySettingsA", settings);
    ASSERT_FALSE(settings.empty()) << "the display settings offer no mode at all";

    std::vector<mode_record> layer_settings;
    display_setting setting;
    for (std::uint32_t index = 0; read_display_setting(index, setting); ++index) {
        layer_settings.push_back({setting.bits_per_pixel, 0, setting.width, setting.height});
    }
    EXPECT_EQ(layer_settings, settings);

    std::vector<mode_record> direct_draw;
    const bool direct_draw_listed = direct_draw_from_windows(direct_draw);
    print_records(direct_draw_listed ? "DirectDraw" : "DirectDraw (unavailable)", direct_draw);

    std::vector<mode_record> layer_direct_draw;
    const direct_draw_outcome outcome = enumerate_direct_draw_modes(
        [](const direct_draw_mode& mode, void* context) {
            static_cast<std::vector<mode_record>*>(context)->push_back(
                {mode.bit_count, mode.green_mask, mode.width, mode.height});
        },
        &layer_direct_draw);
    EXPECT_EQ(outcome == direct_draw_outcome::done, direct_draw_listed);
    if (direct_draw_listed) {
        EXPECT_EQ(layer_direct_draw, direct_draw);
    }
}

TEST(real_display_services, list_at_32_is_settings_at_24_or_32_and_direct_draw_at_32) {
    std::set<size_pair> expected;
    for (const mode_record& r : settings_from_windows()) {
        if (r.bits == 24 || r.bits == 32) {
            expected.insert({r.width, r.height});
        }
    }
    std::vector<mode_record> direct_draw;
    if (direct_draw_from_windows(direct_draw)) {
        for (const mode_record& r : direct_draw) {
            if (r.bits == 32) {
                expected.insert({r.width, r.height});
            }
        }
    }

    const mode_table table = take_display_mode_list();
    std::vector<size_pair> listed;
    std::printf("take_display_mode_list: %lld modes\n", static_cast<long long>(table.count));
    for (std::size_t row = 1; row < table.rows.size(); ++row) {
        std::printf("  %llux%llu\n", static_cast<unsigned long long>(table.rows[row][1]),
                    static_cast<unsigned long long>(table.rows[row][2]));
        listed.emplace_back(table.rows[row][1], table.rows[row][2]);
    }
    EXPECT_FALSE(listed.empty());
    // std::set orders by width, then height: the list's own order for sizes below 32768.
    EXPECT_EQ(listed, std::vector<size_pair>(expected.begin(), expected.end()));
}

}  // namespace
