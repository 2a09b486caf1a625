// Entry names: the relative path of a file as the payload stores it and the launcher joins
// it to the target directory (UTF-16, components separated by backslashes). The launcher
// takes a name verbatim, so every name is checked here: a name must stay inside the target
// directory and mean on Windows what it meant on the host.
#pragma once

#include <string>
#include <vector>

namespace kelvor {

// Builds the entry name from a host relative path's components (UTF-8). Throws ToolError
// naming the file when a component is not valid UTF-8, is "." or "..", holds a character that
// Windows does not allow in a file name (a backslash among them), ends in a dot or a space
// (Windows drops those), is a name Windows reads as a device ("CON", "nul .log", "COM¹.txt",
// "CONOUT$"), or when the name is too long.
std::u16string make_entry_name(const std::vector<std::string>& components,
                               const std::string& shown_path);

// Checks a name read from a payload before it is joined to a directory: throws ToolError
// "'<shown>': <rule>" for a name that make_entry_name would refuse, taken whole (an empty part,
// so a backslash at its start or end; a '.' or '..' part; a drive's ':'; a device name), and
// for one that is not well-formed UTF-16, which no host name would give back.
void check_entry_name(const std::u16string& name, const std::string& shown);
// The rule that check_entry_name finds broken, or "" for a name it takes.
std::string entry_name_fault(const std::u16string& name);

// The key under which Windows compares names: case-insensitive, so two names with equal keys
// are the same file there.
std::u16string case_folded(const std::u16string& name);

}  // namespace kelvor
