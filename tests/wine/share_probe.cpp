// share_probe.exe NAME: tries what another program might do to NAME while the tool holds it,
// and prints each outcome as the error code (0 when it succeeded, undone at once):
//   open N   opening it for writing, with every sharing allowed
//   move N   renaming it
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const HANDLE file =
        CreateFileA(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::printf("open %lu\n", file == INVALID_HANDLE_VALUE ? GetLastError() : 0ul);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    const std::string moved = std::string(argv[1]) + ".moved";
    const bool renamed = MoveFileA(argv[1], moved.c_str()) != 0;
    std::printf("move %lu\n", renamed ? 0ul : GetLastError());
    if (renamed) {
        MoveFileA(moved.c_str(), argv[1]);
    }
    return 0;
}
