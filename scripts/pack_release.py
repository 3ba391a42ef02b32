#!/usr/bin/env python3
"""scripts/pack_release.py EPOCH ZIP EXE WINDOWS_README TARBALL FOLDER PROGRAM LINUX_README

The two release packages of scripts/package, the same bytes wherever and whenever they are
packed: ZIP holds EXE as pixelwarde.exe and WINDOWS_README as LIESMICH.txt with CR LF line
ends; TARBALL holds the folder FOLDER with PROGRAM as pixelwarde and LINUX_README as
LIESMICH.txt. Every entry has the time EPOCH (seconds since 1970), a fixed mode and, in the
tarball, the owner root."""

import gzip
import io
import sys
import tarfile
import time
import zipfile


def read_me(name):
    with open(name, "rb") as f:
        text = f.read()
    if b"\r" in text:
        raise SystemExit(name + " must have plain line ends")
    return text


def contents(name):
    with open(name, "rb") as f:
        return f.read()


def pack_zip(target, epoch, exe, readme):
    # Zip dates start in 1980 and have two-second steps.
    date = max(time.gmtime(epoch)[:6], (1980, 1, 1, 0, 0, 0))
    date = date[:5] + (date[5] - date[5] % 2,)
    entries = [("pixelwarde.exe", contents(exe), 0o755),
               ("LIESMICH.txt", read_me(readme).replace(b"\n", b"\r\n"), 0o644)]
    with zipfile.ZipFile(target, "w") as z:
        for name, data, mode in entries:
            info = zipfile.ZipInfo(name, date_time=date)
            info.create_system = 3  # Unix mode bits, whatever system packs
            info.external_attr = (0o100000 | mode) << 16  # a regular file
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data, compresslevel=9)


def tar_entry(name, kind, mode, epoch, size=0):
    info = tarfile.TarInfo(name)
    info.type, info.mode, info.size, info.mtime = kind, mode, size, epoch
    info.uid = info.gid = 0
    info.uname = info.gname = "root"
    return info


def pack_tar(target, epoch, folder, program, readme):
    # The gzip header carries no file name and a zero time; the tar entries the same owner
    # and time wherever and whenever they are packed.
    entries = [("pixelwarde", contents(program), 0o755),
               ("LIESMICH.txt", read_me(readme), 0o644)]
    with open(target, "wb") as f, \
            gzip.GzipFile(filename="", mode="wb", fileobj=f, mtime=0, compresslevel=9) as packed, \
            tarfile.open(fileobj=packed, mode="w", format=tarfile.USTAR_FORMAT) as t:
        t.addfile(tar_entry(folder, tarfile.DIRTYPE, 0o755, epoch))
        for name, data, mode in entries:
            t.addfile(tar_entry(folder + "/" + name, tarfile.REGTYPE, mode, epoch, len(data)),
                      io.BytesIO(data))


def main():
    epoch = int(sys.argv[1])
    zip_target, exe, windows_readme = sys.argv[2:5]
    tar_target, folder, program, linux_readme = sys.argv[5:9]
    pack_zip(zip_target, epoch, exe, windows_readme)
    pack_tar(tar_target, epoch, folder, program, linux_readme)


if __name__ == "__main__":
    main()
