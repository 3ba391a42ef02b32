#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "target_file.h"
#include "target_file_posix.h"

namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

// Every name in the current folder; none when it cannot be read.
std::vector<std::string> folder_names() {
    std::vector<std::string> names;
    DIR* folder = opendir(".");
    if (folder == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(folder)) {
        names.emplace_back(entry->d_name);
    }
    closedir(folder);
    return names;
}

// Opens name only if it is a regular file. O_NONBLOCK keeps a FIFO from blocking the open.
int open_regular(const char* name, int flags) {
    const int fd = open(name, flags | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

int descriptor(const target_file& file) { return static_cast<int>(file.handle); }

}  // namespace

bool open_for_reading(target_file& file, const char* name) {
    // The run never opens over an open file: this close is a guard, with nothing to report.
    static_cast<void>(close_target(file));
    const int fd = open_regular(name, O_RDONLY);
    file.handle = fd;
    file.writable = false;
    return fd >= 0;
}

std::vector<std::string> case_twins(std::string_view name, std::span<const std::string> names) {
    std::vector<std::string> twins;
    for (const std::string& candidate : names) {
        if (candidate != name && equal_ignoring_ascii_case(candidate, name)) {
            twins.push_back(candidate);
        }
    }
    std::sort(twins.begin(), twins.end());  // std::string compares bytes as unsigned char
    return twins;
}

bool open_for_reading_any_case(target_file& file, const char* name, std::string& opened) {
    if (open_for_reading(file, name)) {
        opened = name;
        return true;
    }
    for (const std::string& twin : case_twins(name, folder_names())) {
        if (open_for_reading(file, twin.c_str())) {
            opened = twin;
            return true;
        }
    }
    return false;
}

bool open_for_update(target_file& file, const char* name) {
    // The run never opens over an open file: this close is a guard, with nothing to report.
    static_cast<void>(close_target(file));
    int fd = open_regular(name, O_RDWR);
    file.writable = fd >= 0;
    if (fd < 0) {
        fd = open_regular(name, O_RDONLY);
    }
    file.handle = fd;
    return fd >= 0;
}

bool close_target(target_file& file) {
    // No retry on EINTR: the descriptor is gone either way, and the error is reported.
    const bool closed = file.handle < 0 || close(descriptor(file)) == 0;
    file.handle = -1;
    file.writable = false;
    return closed;
}

std::uint64_t target_length(const target_file& file) {
    struct stat info;
    if (file.handle < 0 || fstat(descriptor(file), &info) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

namespace {

// Repeats a positioned read or write until all count bytes have gone. Returns how many
// went before an error or the end of the file.
template <typename byte_pointer, typename transfer_function>
std::size_t transfer_all(const target_file& file, std::uint64_t offset, byte_pointer bytes,
                         std::size_t count, transfer_function transfer) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = transfer(descriptor(file), bytes + done, count - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}  // namespace

bool read_at(const target_file& file, std::uint64_t offset, std::uint8_t* bytes,
             std::size_t count) {
    return file.handle >= 0 && transfer_all(file, offset, bytes, count, pread) == count;
}

std::size_t write_at(const target_file& file, std::uint64_t offset, const std::uint8_t* bytes,
                     std::size_t count) {
    if (file.handle < 0 || !file.writable) {
        return 0;
    }
    return transfer_all(file, offset, bytes, count, pwrite);
}

bool flush_target(const target_file& file) {
    if (file.handle < 0) {
        return false;
    }
    int result;
    do {
        result = fdatasync(descriptor(file));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool still_named(const target_file& file, const char* name) {
    struct stat open_file;
    struct stat named;
    return file.handle >= 0 && fstat(descriptor(file), &open_file) == 0 && open_file.st_nlink > 0 &&
           stat(name, &named) == 0 && named.st_dev == open_file.st_dev &&
           named.st_ino == open_file.st_ino;
}
