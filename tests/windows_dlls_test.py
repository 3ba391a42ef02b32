#!/usr/bin/env python3
"""What Windows sees of pixelwarde.exe before it runs a line of it.

Every build: a single file that imports only DLLs every Windows has (no libstdc++, libgcc or
winpthread DLLs beside it), with its version resource and manifest.

The release build (--release) also: only KERNEL32, USER32 and msvcrt, and from them only
functions that Windows 7 has; the header states Windows 7 (6.1) as its floor; and no link
time stamp, so that two builds of the same sources are the same bytes.

    windows_dlls_test.py OBJDUMP WINDRES PROGRAM VERSION [--release]
"""

import re
import struct
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "gdi32.dll"}

# Every function the release exe may import, each one present in Windows 7's DLL. Add a
# function here only after checking that Windows 7 exports it (Windows 8 and later brought
# e.g. GetSystemTimePreciseAsFileTime, CreateFile2, SetDefaultDllDirectories).
WINDOWS7_IMPORTS = {
    "kernel32.dll": {
        # console
        "AllocConsole", "Beep", "FillConsoleOutputAttribute", "FillConsoleOutputCharacterA",
        "FlushConsoleInputBuffer", "GetConsoleCP", "GetConsoleCursorInfo", "GetConsoleMode",
        "GetConsoleOutputCP", "GetConsoleProcessList", "GetConsoleScreenBufferInfo",
        "GetNumberOfConsoleInputEvents", "GetStdHandle", "PeekConsoleInputA",
        "ReadConsoleInputA", "ScrollConsoleScreenBufferA", "SetConsoleCtrlHandler",
        "SetConsoleCursorInfo", "SetConsoleCursorPosition", "SetConsoleMode",
        "WriteConsoleA", "WriteConsoleOutputA", "WriteConsoleOutputCharacterA",
        # files
        "CloseHandle", "CreateFileA", "FlushFileBuffers", "GetFileInformationByHandle",
        "GetFileSizeEx", "GetFileType", "ReadFile", "SetFilePointerEx", "WriteFile",
        # libraries (ddraw.dll from the system folder)
        "FreeLibrary", "GetModuleHandleA", "GetModuleHandleW", "GetProcAddress",
        "GetSystemDirectoryA", "LoadLibraryA", "LoadLibraryExA", "LoadLibraryW",
        # process, memory and errors
        "ExitProcess", "GetCurrentProcess", "GetCurrentProcessId", "GetCurrentThreadId",
        "GetLastError", "GetStartupInfoA", "GetTickCount", "Sleep", "SetLastError",
        "SetUnhandledExceptionFilter", "TerminateProcess", "UnhandledExceptionFilter",
        "VirtualProtect", "VirtualQuery", "QueryPerformanceCounter",
        "GetSystemTimeAsFileTime",
        # the C and C++ runtimes of mingw-w64 (win32 thread model)
        "CreateSemaphoreW", "DeleteCriticalSection", "EnterCriticalSection",
        "InitializeCriticalSection", "LeaveCriticalSection", "ReleaseSemaphore",
        "WaitForSingleObject", "TlsAlloc", "TlsFree", "TlsGetValue", "TlsSetValue",
        "IsDBCSLeadByteEx", "MultiByteToWideChar", "WideCharToMultiByte", "RaiseException",
        "RtlCaptureContext", "RtlLookupFunctionEntry", "RtlUnwindEx", "RtlVirtualUnwind",
        "__C_specific_handler",
    },
    "user32.dll": {"EnumDisplaySettingsA"},
    "msvcrt.dll": {
        "___lc_codepage_func", "___mb_cur_max_func", "__getmainargs", "__initenv",
        "__iob_func", "__set_app_type", "__setusermatherr", "_acmdln", "_amsg_exit",
        "_cexit", "_close", "_commode", "_errno", "_exit", "_fmode", "_initterm", "_onexit", "_read",
        "_write", "abort", "calloc", "exit", "fflush", "fprintf", "fputc", "fputs", "free",
        "fwrite", "localeconv", "malloc", "memchr", "memcmp", "memcpy", "memmove", "memset",
        "realloc", "signal", "strcmp", "strerror", "strlen", "strncmp", "vfprintf", "wcslen",
    },
}

# supportedOS ids of Windows 7, 8, 8.1 and 10 (which 11 shares).
SUPPORTED_OS = ["{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"]


def imports(objdump, program):
    """{dll: {function, ...}} as objdump reads the import tables."""
    dump = subprocess.run([objdump, "-p", program], capture_output=True, check=True, text=True)
    table, dll = {}, None
    for line in dump.stdout.splitlines():
        if "DLL Name:" in line:
            dll = line.split(":", 1)[1].strip().lower()
            table[dll] = set()
        elif dll and re.match(r"^\s+[0-9a-f]+\s+\d+\s+\S+", line):
            table[dll].add(line.split()[2])
        elif not line.strip():
            dll = None
    return table


def header(program):
    """The fields of the PE header a loader reads first."""
    with open(program, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("not a PE file: " + program)
    coff = pe + 4
    optional = coff + 20
    fields = {
        "time stamp": struct.unpack_from("<I", data, coff + 4)[0],
        "os version": struct.unpack_from("<HH", data, optional + 40),
        "subsystem version": struct.unpack_from("<HH", data, optional + 48),
    }
    # PE32+: the data directories start at 112; entry 6 is the debug directory, which
    # carries time stamps of its own.
    fields["debug directory"] = struct.unpack_from("<II", data, optional + 112 + 6 * 8)[1]
    return fields


def resources(windres, program):
    """The exe's resources as windres writes them back as resource script text; empty when
    it has none."""
    out = subprocess.run([windres, "-i", program, "-O", "rc"], capture_output=True, text=True)
    return out.stdout if out.returncode == 0 else ""


def check_every_build(table, rc, version):
    faults = []
    # Windows states the version in four numbers: MAJOR.MINOR is MAJOR.MINOR.0.0.
    parts = (version.split(".") + ["0"] * 4)[:4]
    dlls = set(table)
    if not dlls or not dlls <= SYSTEM_DLLS:
        faults.append("not a system DLL: " + (", ".join(sorted(dlls - SYSTEM_DLLS))
                                              or "(no imports read)"))
    expected = ["FILEVERSION " + ", ".join(parts), 'VALUE "ProductName", "Pixelwarde"',
                'VALUE "FileVersion", "%s"' % ".".join(parts),
                'VALUE "OriginalFilename", "pixelwarde.exe"',
                'VALUE "FileDescription", "', "RT_MANIFEST", 'level=""asInvoker""',
                'version=""%s""' % ".".join(parts)]
    for text in expected + SUPPORTED_OS:
        if text not in rc:
            faults.append("resource lacks " + text)
    return faults


def check_release(table, fields):
    faults = []
    for dll, functions in sorted(table.items()):
        allowed = WINDOWS7_IMPORTS.get(dll)
        if allowed is None:
            faults.append("release imports from " + dll)
            continue
        unknown = sorted(functions - allowed)
        if unknown:
            faults.append("%s: not on the list checked against Windows 7: %s" % (dll, ", ".join(unknown)))
    if fields["time stamp"] != 0:
        faults.append("link time stamp 0x%08x" % fields["time stamp"])
    if fields["debug directory"] != 0:
        faults.append("debug directory present")
    for name in ["os version", "subsystem version"]:
        if fields[name] != (6, 1):
            faults.append("%s %d.%d, not 6.1" % ((name,) + fields[name]))
    return faults


def main():
    objdump, windres, program, version = sys.argv[1:5]
    release = "--release" in sys.argv[5:]
    table = imports(objdump, program)
    fields = header(program)
    for dll, functions in sorted(table.items()):
        print("%s: %d functions" % (dll, len(functions)))
    print("subsystem %d.%d, os %d.%d, time stamp 0x%08x" % (
        fields["subsystem version"] + fields["os version"] + (fields["time stamp"],)))
    faults = check_every_build(table, resources(windres, program), version)
    if release:
        faults += check_release(table, fields)
    for fault in faults:
        print("FAULT:", fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
