// desktop_holder.exe READY: takes the Wine prefix's desktop into use, makes the file READY, and
// keeps the desktop in use until it is ended. Windows only; no console of its own.
//
// Without a program that holds it, the desktop closes whenever no Wine program of the prefix
// uses it, and its desktop process ends. Consoles that started at such a moment were seen to
// start a desktop process of their own each, wait 10 s for it, and draw terminal screens
// that came out wrong.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc != 2 || GetDesktopWindow() == nullptr) {
        return 1;
    }
    const HANDLE ready = CreateFileA(__argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) {
        return 1;
    }
    CloseHandle(ready);
    Sleep(INFINITE);
    return 0;
}
