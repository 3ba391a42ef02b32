#include "releases.h"

namespace {

// The tests state these rows apart from this file (tests/releases.txt) and hold this table
// against their statement.
const target_row release_rows[] = {
    {"cstrike.exe", 946176, 844536, 844600,
     "Dateilaenge stimmt nicht. Nicht CS 1.5 US-Retail? breche ab!",
     "Datei wurde anderweitig veraendert. Nicht CS 1.5 US-Retail? Breche ab!", true},
    {"hl.exe", 942080, 848632, 848696,
     "Dateilaenge stimmt nicht. Nicht US-Halflife 1.1.1.0? breche ab!",
     "Datei wurde anderweitig veraendert. Nicht US-Halflife 1.1.1.0? Breche ab!", false},
};

// Shared by both releases, not kept per row: a block passes when its digest is any text of
// its list. The digest covers a block only up to its first zero byte, so it tells that a block
// begins as a known game file's does, not which release it is; the file's name and length
// already tell the row. The first header text is the block digest of 4D 5A 90, the start of
// every Windows program; the second is the MD5 of the same bytes.
const std::string_view header_texts[] = {"DB1131FF326055BD86F7618809AD1B28",
                                         "82BEF32153657DC25DC439A3B500A614"};
const std::string_view guard_texts[] = {"677C75B25CC9D9794BB8DA26E46C62A6",
                                        "486F613A20AEE71C7610A665F49BCBF1"};

}  // namespace

const std::span<const target_row> known_releases = release_rows;
const std::span<const std::string_view> accepted_header_texts = header_texts;
const std::span<const std::string_view> accepted_guard_texts = guard_texts;
