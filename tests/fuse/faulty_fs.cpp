// faulty_fs BACKING MOUNTPOINT FAULT [HOLD]: mounts BACKING at MOUNTPOINT (FUSE, in the
// foreground, one thread) and passes every operation through, but for the one that FAULT
// names:
//   write  every write fails with ENOSPC, as on a full disk;
//   fsync  every fsync and fdatasync fails with EIO, as when writeback fails;
//   flush  closing a file opened for writing fails with EIO, as on NFS or a share;
//   none   nothing fails.
// With HOLD, every fsync and fdatasync first makes the file HOLD and waits until it is gone
// (at most a minute), as a slow disk or share keeps the caller waiting, then does as FAULT
// says. A test removes the file when it has done what it wanted done meanwhile.
// It unmounts itself on SIGTERM or SIGINT.
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <string_view>

namespace {

enum class fault { none, write, fsync, flush };

struct faulty_fs {
    std::string backing;
    fault failing = fault::none;
    const char* hold = nullptr;
    std::set<std::uint64_t> writers;  // handles opened for writing (a flush is not told)
};

faulty_fs fs;

std::string backing_path(const char* path) { return fs.backing + path; }

int result_of(int value) { return value < 0 ? -errno : value; }

int do_getattr(const char* path, struct stat* info, fuse_file_info* file) {
    if (file != nullptr) {
        return result_of(fstat(static_cast<int>(file->fh), info));
    }
    return result_of(lstat(backing_path(path).c_str(), info));
}

int do_access(const char* path, int mode) {
    return result_of(access(backing_path(path).c_str(), mode));
}

int do_readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
               fuse_readdir_flags) {
    DIR* folder = opendir(backing_path(path).c_str());
    if (folder == nullptr) {
        return -errno;
    }
    while (const dirent* entry = readdir(folder)) {
        struct stat info = {};
        info.st_ino = entry->d_ino;
        info.st_mode = static_cast<mode_t>(DTTOIF(entry->d_type));
        if (fill(buffer, entry->d_name, &info, 0, static_cast<fuse_fill_dir_flags>(0)) != 0) {
            break;
        }
    }
    closedir(folder);
    return 0;
}

int do_open(const char* path, fuse_file_info* file) {
    const int fd = open(backing_path(path).c_str(), file->flags);
    if (fd < 0) {
        return -errno;
    }
    file->fh = static_cast<std::uint64_t>(fd);
    if ((file->flags & O_ACCMODE) != O_RDONLY) {
        fs.writers.insert(file->fh);
    }
    return 0;
}

int do_read(const char*, char* bytes, size_t count, off_t offset, fuse_file_info* file) {
    return static_cast<int>(pread(static_cast<int>(file->fh), bytes, count, offset));
}

int do_write(const char*, const char* bytes, size_t count, off_t offset, fuse_file_info* file) {
    if (fs.failing == fault::write) {
        return -ENOSPC;
    }
    const ssize_t written = pwrite(static_cast<int>(file->fh), bytes, count, offset);
    return written < 0 ? -errno : static_cast<int>(written);
}

int do_statfs(const char*, struct statvfs* info) {
    return result_of(statvfs(fs.backing.c_str(), info));
}

int do_flush(const char*, fuse_file_info* file) {
    // Only a close after writing can lose data; a reader's close never fails.
    if (fs.failing == fault::flush && fs.writers.count(file->fh) != 0) {
        return -EIO;
    }
    return 0;
}

int do_release(const char*, fuse_file_info* file) {
    fs.writers.erase(file->fh);
    close(static_cast<int>(file->fh));
    return 0;
}

// Makes the hold file and waits until the test removes it.
void hold_while_asked() {
    const int made = open(fs.hold, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (made < 0) {
        return;
    }
    close(made);
    const timespec pause = {0, 10'000'000};
    for (int waited = 0; waited < 6000 && access(fs.hold, F_OK) == 0; ++waited) {
        nanosleep(&pause, nullptr);
    }
}

int do_fsync(const char*, int data_only, fuse_file_info* file) {
    if (fs.hold != nullptr) {
        hold_while_asked();
    }
    if (fs.failing == fault::fsync) {
        return -EIO;
    }
    const int fd = static_cast<int>(file->fh);
    return result_of(data_only != 0 ? fdatasync(fd) : fsync(fd));
}

bool parse_fault(std::string_view name, fault& which) {
    const struct {
        std::string_view name;
        fault which;
    } faults[] = {{"none", fault::none},
                  {"write", fault::write},
                  {"fsync", fault::fsync},
                  {"flush", fault::flush}};
    for (const auto& f : faults) {
        if (f.name == name) {
            which = f.which;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 5 || !parse_fault(argv[3], fs.failing)) {
        std::fputs("usage: faulty_fs BACKING MOUNTPOINT none|write|fsync|flush [HOLD]\n", stderr);
        return 2;
    }
    if (argc == 5) {
        fs.hold = argv[4];
    }
    char* backing = realpath(argv[1], nullptr);
    if (backing == nullptr) {
        std::perror(argv[1]);
        return 2;
    }
    fs.backing = backing;
    std::free(backing);

    fuse_operations operations = {};
    operations.getattr = do_getattr;
    operations.access = do_access;
    operations.readdir = do_readdir;
    operations.open = do_open;
    operations.read = do_read;
    operations.write = do_write;
    operations.statfs = do_statfs;
    operations.flush = do_flush;
    operations.release = do_release;
    operations.fsync = do_fsync;

    // Foreground, one thread. Without the writeback cache (the default) every write reaches
    // this process at once, so the failing write is the tool's own.
    char program[] = "faulty_fs";
    char foreground[] = "-f";
    char single[] = "-s";
    char* fuse_argv[] = {program, argv[2], foreground, single, nullptr};
    return fuse_main(4, fuse_argv, &operations, nullptr);
}
