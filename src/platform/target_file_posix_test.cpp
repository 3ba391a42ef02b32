#include "target_file_posix.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using names = std::vector<std::string>;

TEST(case_twins, names_equal_but_for_ascii_case_in_byte_order) {
    struct twin_case {
        const char* what;
        const char* name;
        names folder;
        names twins;
    };
    const twin_case cases[] = {
        {"upper case", "cstrike.exe", {"hl.exe", "CSTRIKE.EXE", "readme.txt"}, {"CSTRIKE.EXE"}},
        {"the exact name is no twin",
         "cstrike.exe",
         {"cstrike.exe", "Cstrike.exe"},
         {"Cstrike.exe"}},
        {"several, in byte order",
         "hl.exe",
         {"hl.EXE", "Hl.exe", "HL.EXE", "hL.exe", "HL.exe"},
         {"HL.EXE", "HL.exe", "Hl.exe", "hL.exe", "hl.EXE"}},
        {"a longer or shorter name, or another letter",
         "hl.exe",
         {"hl.exe.bak", "HL.EX", "HL.EXE ", "HK.EXE", "hl_exe", "HL"},
         {}},
        // Only ASCII letters differ in case here: Latin-1 e-acute (E9) and E-acute (C9) are
        // other names, as are ASCII letters against the bytes 32 apart that are no letters.
        {"no case beyond ASCII letters",
         "\xe9.exe",
         {"\xc9.exe", "\xc9.EXE", "\xe9.EXE"},
         {"\xe9.EXE"}},
        {"no letters, no twins", "@[.exe", {"`{.exe", "@[.EXE"}, {"@[.EXE"}},
        {"an empty folder", "cstrike.exe", {}, {}},
    };
    for (const twin_case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(case_twins(c.name, c.folder), c.twins);
    }
}

}  // namespace
