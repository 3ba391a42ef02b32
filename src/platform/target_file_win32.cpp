#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "target_file.h"

namespace {

// Opens name only if it is a file on disk; folders, pipes and devices are refused.
// No sharing restriction: the game or an editor may hold the file too.
HANDLE open_disk_file(const char* name, DWORD access) {
    const HANDLE h =
        CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return h;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

HANDLE handle_of(const target_file& file) { return reinterpret_cast<HANDLE>(file.handle); }

void set(target_file& file, HANDLE h) {
    file.handle = h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(h);
}

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED position = {};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

}  // namespace

bool open_for_reading(target_file& file, const char* name) {
    close_target(file);
    set(file, open_disk_file(name, GENERIC_READ));
    file.writable = false;
    return file.handle != -1;
}

bool open_for_update(target_file& file, const char* name) {
    close_target(file);
    HANDLE h = open_disk_file(name, GENERIC_READ | GENERIC_WRITE);
    file.writable = h != INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) {
        h = open_disk_file(name, GENERIC_READ);
    }
    set(file, h);
    return file.handle != -1;
}

void close_target(target_file& file) {
    if (file.handle != -1) {
        CloseHandle(handle_of(file));
    }
    file.handle = -1;
    file.writable = false;
}

std::uint64_t target_length(const target_file& file) {
    LARGE_INTEGER size;
    if (file.handle == -1 || !GetFileSizeEx(handle_of(file), &size)) {
        return 0;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

namespace {

// Repeats a positioned ReadFile or WriteFile until all count bytes have gone; false on an
// error or at the end of the file.
template <typename byte_pointer, typename transfer_function>
bool transfer_all(const target_file& file, std::uint64_t offset, byte_pointer bytes,
                  std::size_t count, transfer_function transfer) {
    while (file.handle != -1 && count > 0) {
        OVERLAPPED position = at(offset);
        DWORD done = 0;
        const DWORD chunk = count > 1u << 30 ? 1u << 30 : static_cast<DWORD>(count);
        if (!transfer(handle_of(file), bytes, chunk, &done, &position) || done == 0) {
            return false;
        }
        bytes += done;
        count -= done;
        offset += done;
    }
    return count == 0;
}

}  // namespace

bool read_at(const target_file& file, std::uint64_t offset, std::uint8_t* bytes,
             std::size_t count) {
    return transfer_all(file, offset, bytes, count, ReadFile);
}

bool write_at(const target_file& file, std::uint64_t offset, const std::uint8_t* bytes,
              std::size_t count) {
    return file.writable && transfer_all(file, offset, bytes, count, WriteFile);
}
