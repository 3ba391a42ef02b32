#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "target_file.h"

namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens name only if it is a file on disk; folders, pipes and devices are refused.
HANDLE open_disk_file(const char* name, DWORD access, DWORD share) {
    const HANDLE h =
        CreateFileA(name, access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    // The run never opens over an open file: this close is a guard, with nothing to report.
    static_cast<void>(close_target(file));
    // Reading alone restricts nobody: the game or an editor may hold the file too.
    set(file, open_disk_file(name, GENERIC_READ, share_all));
    file.writable = false;
    return file.handle != -1;
}

// The file system already ignores case: the name as asked for is the name opened.
bool open_for_reading_any_case(target_file& file, const char* name, std::string& opened) {
    if (!open_for_reading(file, name)) {
        return false;
    }
    opened = name;
    return true;
}

bool open_for_update(target_file& file, const char* name) {
    // The run never opens over an open file: this close is a guard, with nothing to report.
    static_cast<void>(close_target(file));
    // While the run may write, others may read, but not write, rename or delete: the file
    // written is the file identified. The game cannot start from it meanwhile anyway.
    HANDLE h = open_disk_file(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    file.writable = h != INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE) {
        h = open_disk_file(name, GENERIC_READ, share_all);
    }
    set(file, h);
    return file.handle != -1;
}

bool close_target(target_file& file) {
    const bool closed = file.handle == -1 || CloseHandle(handle_of(file)) != 0;
    file.handle = -1;
    file.writable = false;
    return closed;
}

std::uint64_t target_length(const target_file& file) {
    LARGE_INTEGER size;
    if (file.handle == -1 || !GetFileSizeEx(handle_of(file), &size)) {
        return 0;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

namespace {

// Repeats a positioned ReadFile or WriteFile until all count bytes have gone. Returns how
// many went before an error or the end of the file.
template <typename byte_pointer, typename transfer_function>
std::size_t transfer_all(const target_file& file, std::uint64_t offset, byte_pointer bytes,
                         std::size_t count, transfer_function transfer) {
    std::size_t done = 0;
    while (file.handle != -1 && done < count) {
        OVERLAPPED position = at(offset + done);
        DWORD moved = 0;
        const std::size_t left = count - done;
        const DWORD chunk = left > 1u << 30 ? 1u << 30 : static_cast<DWORD>(left);
        if (!transfer(handle_of(file), bytes + done, chunk, &moved, &position) || moved == 0) {
            break;
        }
        done += moved;
    }
    return done;
}

// The volume and the file index name one file on a volume.
bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

bool read_at(const target_file& file, std::uint64_t offset, std::uint8_t* bytes,
             std::size_t count) {
    return transfer_all(file, offset, bytes, count, ReadFile) == count;
}

std::size_t write_at(const target_file& file, std::uint64_t offset, const std::uint8_t* bytes,
                     std::size_t count) {
    return file.writable ? transfer_all(file, offset, bytes, count, WriteFile) : 0;
}

bool flush_target(const target_file& file) {
    return file.handle != -1 && FlushFileBuffers(handle_of(file)) != 0;
}

bool still_named(const target_file& file, const char* name) {
    BY_HANDLE_FILE_INFORMATION open_file;
    if (file.handle == -1 || !GetFileInformationByHandle(handle_of(file), &open_file)) {
        return false;
    }
    // Attributes only: this open needs no data access, so the run's own sharing rule does
    // not refuse it.
    const HANDLE named = CreateFileA(name, FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        return false;
    }
    BY_HANDLE_FILE_INFORMATION named_file;
    const bool same = GetFileInformationByHandle(named, &named_file) != 0 &&
                      open_file.nNumberOfLinks > 0 && same_file(open_file, named_file);
    CloseHandle(named);
    return same;
}
