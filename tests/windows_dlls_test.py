#!/usr/bin/env python3
"""pixelwarde.exe must run on any 64-bit Windows as a single file: it may import only DLLs
that every Windows has (no libstdc++, libgcc or winpthread DLLs beside it)."""

import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll", "advapi32.dll", "gdi32.dll"}


def imported_dlls(objdump, program):
    dump = subprocess.run([objdump, "-p", program], capture_output=True, check=True, text=True)
    return {line.split(":", 1)[1].strip().lower()
            for line in dump.stdout.splitlines() if "DLL Name:" in line}


def main():
    objdump, program = sys.argv[1], sys.argv[2]
    dlls = imported_dlls(objdump, program)
    print("imports:", ", ".join(sorted(dlls)))
    if not dlls or not dlls <= SYSTEM_DLLS:
        print("not a system DLL:", ", ".join(sorted(dlls - SYSTEM_DLLS)) or "(no imports read)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
