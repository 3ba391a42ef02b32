// file_holder.exe NAME: holds NAME open for reading without letting anyone else write it,
// as a running game holds its executable, until its standard input ends. Windows only.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    const HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    char byte;
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read != 0) {
    }
    CloseHandle(file);
    return 0;
}
