// A stand-in for a DirectDraw wrapper that an old game folder may hold: built as ddraw.dll,
// it leaves the file "planted-ddraw-ran" in the current folder when it is loaded and when its
// DirectDrawCreate is called, which then fails. Windows only, for the tests.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

void leave_mark() {
    const HANDLE file = CreateFileA("planted-ddraw-ran", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        leave_mark();
    }
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DirectDrawCreate(void*, void**, void*) {
    leave_mark();
    return E_FAIL;
}
