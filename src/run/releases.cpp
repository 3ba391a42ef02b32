#include "releases.h"

// tests/make_game_file.py reads the file name, length and offsets from these rows.
const std::array<target_row, 2> known_releases = {{
    {"cstrike.exe", 946176, 844536, 844600,
     "Dateilaenge stimmt nicht. Nicht CS 1.5 US-Retail? breche ab!",
     "Datei wurde anderweitig veraendert. Nicht CS 1.5 US-Retail? Breche ab!", true},
    {"hl.exe", 942080, 848632, 848696,
     "Dateilaenge stimmt nicht. Nicht US-Halflife 1.1.1.0? breche ab!",
     "Datei wurde anderweitig veraendert. Nicht US-Halflife 1.1.1.0? Breche ab!", false},
}};

// The first header text is the block digest of 4D 5A 90, the start of every Windows
// program; the second is the MD5 of the same bytes.
const std::array<std::string_view, 2> accepted_header_texts = {"DB1131FF326055BD86F7618809AD1B28",
                                                               "82BEF32153657DC25DC439A3B500A614"};
const std::array<std::string_view, 2> accepted_guard_texts = {"677C75B25CC9D9794BB8DA26E46C62A6",
                                                              "486F613A20AEE71C7610A665F49BCBF1"};
