// Linux only, so tests can point the display services at other places: the folder holding
// the kernel's display connectors, and the X libraries opened at run time.
#pragma once

extern const char* drm_class_folder;
extern const char* xcb_library_name;
extern const char* xcb_randr_library_name;
