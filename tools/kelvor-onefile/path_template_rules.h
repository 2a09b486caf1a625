// The launcher's path-template scanner rules, applied when an executable is built, so that a
// template the launcher would reject is a build error rather than a failure at run time.
#pragma once

#include <string>

namespace kelvor {

constexpr const char* kDefaultPathTemplate = "{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}";

// Throws ToolError naming the problem: an unknown or empty variable name, a "}" outside a
// name, a name left open at the end (the launcher drops it silently), or text that is not
// valid UTF-8.
void check_path_template(const std::string& path_template);

}  // namespace kelvor
