// The display settings of the current display device, and DirectDraw's mode enumeration
// with "ddraw.dll" loaded at run time, so that no DirectX import library is needed.
#include "display_settings.h"

#include <windows.h>

#include <ddraw.h>

namespace {

// IID_IDirectDraw2, defined here so that no GUID library is linked.
const GUID direct_draw2_id = {
    0xB3A6F3E0, 0x2B43, 0x11CF, {0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};

using direct_draw_create_function = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);

struct enumeration_context {
    direct_draw_visitor visit;
    void* context;
};

HRESULT CALLBACK take_surface_description(LPDDSURFACEDESC description, LPVOID context) {
    const auto& target = *static_cast<enumeration_context*>(context);
    const direct_draw_mode mode{description->ddpfPixelFormat.dwRGBBitCount,
                                description->ddpfPixelFormat.dwGBitMask, description->dwWidth,
                                description->dwHeight};
    target.visit(mode, target.context);
    return DDENUMRET_OK;  // every mode, to the end
}

direct_draw_outcome enumerate_with(direct_draw_create_function create, direct_draw_visitor visit,
                                   void* context) {
    IDirectDraw* first = nullptr;
    if (create(nullptr, &first, nullptr) != DD_OK || first == nullptr) {
        return direct_draw_outcome::missing;
    }
    void* second_address = nullptr;
    const HRESULT asked = first->QueryInterface(direct_draw2_id, &second_address);
    first->Release();
    auto* second = static_cast<IDirectDraw2*>(second_address);
    if (asked != S_OK || second == nullptr) {
        return direct_draw_outcome::missing;
    }
    enumeration_context target{visit, context};
    const HRESULT listed = second->EnumDisplayModes(DDEDM_STANDARDVGAMODES, nullptr, &target,
                                                    take_surface_description);
    second->Release();
    return listed == DD_OK ? direct_draw_outcome::done : direct_draw_outcome::failed;
}

}  // namespace

bool read_display_setting(std::uint32_t index, display_setting& setting) {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmDriverExtra = 0;
    if (EnumDisplaySettingsA(nullptr, index, &mode) == 0) {
        return false;
    }
    setting = {mode.dmBitsPerPel, mode.dmPelsWidth, mode.dmPelsHeight};
    return true;
}

direct_draw_outcome enumerate_direct_draw_modes(direct_draw_visitor visit, void* context) {
    HMODULE library = LoadLibraryA("ddraw.dll");
    if (library == nullptr) {
        return direct_draw_outcome::missing;
    }
    // GetProcAddress hands out a generic function pointer; its true type is DirectDrawCreate's.
    const auto create = reinterpret_cast<direct_draw_create_function>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DirectDrawCreate")));
    const direct_draw_outcome outcome =
        create != nullptr ? enumerate_with(create, visit, context) : direct_draw_outcome::missing;
    FreeLibrary(library);
    return outcome;
}
