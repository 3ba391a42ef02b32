// The part of the POSIX game file body that is plain logic, apart so that it is tested
// without a folder: which names in a folder stand for a name given in another case.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// The names that equal name when ASCII case is ignored but differ from it, in byte order.
std::vector<std::string> case_twins(std::string_view name, std::span<const std::string> names);
