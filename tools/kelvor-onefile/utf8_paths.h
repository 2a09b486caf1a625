// File names as the tool holds them: UTF-8 text inside (the command line, messages, entry
// names), std::filesystem paths at the system's edge. On Windows a path is UTF-16, and a path
// made from a narrow string, or shown as one with string(), would go through the ANSI code
// page, which mangles every name outside it. These two are the only way between text and
// paths. (In the Windows build those narrow conversions do not even link: the C++ library was
// built for another C runtime's mbstate_t. A missed one is a link error, never a wrong name.)
#pragma once

#include <filesystem>
#include <string>

namespace kelvor {

// On POSIX both leave the bytes as they are. On Windows, text that is not UTF-8, and a name
// with a lone surrogate, which UTF-8 cannot hold, get U+FFFD in place of what is wrong.
std::filesystem::path path_from_utf8(const std::string& text);
std::string utf8_of(const std::filesystem::path& path);

}  // namespace kelvor
