// The display settings of the current display device, and DirectDraw's mode enumeration
// with "ddraw.dll" loaded at run time, so that no DirectX import library is needed.
#include "display_settings.h"

#include <windows.h>

#include <ddraw.h>

#include <cstring>
#include <vector>

namespace {

// IID_IDirectDraw2, defined here so that no GUID library is linked.
const GUID direct_draw2_id = {
    0xB3A6F3E0, 0x2B43, 0x11CF, {0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};

using direct_draw_create_function = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);

HRESULT CALLBACK take_surface_description(LPDDSURFACEDESC description, LPVOID context) {
    // Growing the vector is the only thing here that can fail, and running out of memory
    // ends the process: nothing unwinds through DirectDraw's frames.
    static_cast<std::vector<direct_draw_mode>*>(context)->push_back(
        {description->ddpfPixelFormat.dwRGBBitCount, description->ddpfPixelFormat.dwGBitMask,
         description->dwWidth, description->dwHeight});
    return DDENUMRET_OK;  // every mode, to the end
}

// The one DirectDraw object of a run: creating it costs more than enumerating its modes, so
// both passes ask the same one. An object that could not be had is not tried again.
struct direct_draw_link {
    bool tried = false;
    HMODULE library = nullptr;
    IDirectDraw2* object = nullptr;
};

direct_draw_link held;

IDirectDraw2* create_object(direct_draw_create_function create) {
    IDirectDraw* first = nullptr;
    if (create(nullptr, &first, nullptr) != DD_OK || first == nullptr) {
        return nullptr;
    }
    void* second = nullptr;
    const HRESULT asked = first->QueryInterface(direct_draw2_id, &second);
    first->Release();
    return asked == S_OK ? static_cast<IDirectDraw2*>(second) : nullptr;
}

void read_settings(std::vector<display_setting>& settings) {
    for (DWORD index = 0;; ++index) {
        DEVMODEA mode{};
        mode.dmSize = sizeof mode;
        if (EnumDisplaySettingsA(nullptr, index, &mode) == 0) {
            return;
        }
        settings.push_back({mode.dmBitsPerPel, mode.dmPelsWidth, mode.dmPelsHeight});
    }
}

// By its full path in the system folder: a game folder may hold a DirectDraw wrapper of the
// same name, and the tool never runs code from the folder it patches.
HMODULE load_system_direct_draw() {
    char path[MAX_PATH];
    const char name[] = "\\ddraw.dll";
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length + sizeof name > MAX_PATH) {
        return nullptr;
    }
    std::memcpy(path + length, name, sizeof name);
    return LoadLibraryA(path);
}

void open_direct_draw() {
    held.tried = true;
    held.library = load_system_direct_draw();
    if (held.library == nullptr) {
        return;
    }
    // GetProcAddress hands out a generic function pointer; its true type is DirectDrawCreate's.
    const auto create = reinterpret_cast<direct_draw_create_function>(
        reinterpret_cast<void (*)()>(GetProcAddress(held.library, "DirectDrawCreate")));
    held.object = create != nullptr ? create_object(create) : nullptr;
    if (held.object == nullptr) {
        FreeLibrary(held.library);
        held.library = nullptr;
    }
}

direct_draw_outcome read_direct_draw(std::vector<direct_draw_mode>& modes) {
    if (!held.tried) {
        open_direct_draw();
    }
    if (held.object == nullptr) {
        return direct_draw_outcome::missing;
    }
    const HRESULT listed = held.object->EnumDisplayModes(DDEDM_STANDARDVGAMODES, nullptr, &modes,
                                                         take_surface_description);
    return listed == DD_OK ? direct_draw_outcome::done : direct_draw_outcome::failed;
}

}  // namespace

void read_display_services(display_reading& reading) {
    reading.settings.clear();
    read_settings(reading.settings);
    reading.direct_draw_modes.clear();
    reading.direct_draw = read_direct_draw(reading.direct_draw_modes);
}

void release_display_services() {
    if (held.object != nullptr) {
        held.object->Release();
    }
    if (held.library != nullptr) {
        FreeLibrary(held.library);
    }
    held = direct_draw_link{};
}
