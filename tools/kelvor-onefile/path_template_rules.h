// The rules a path template must meet when an executable is built: the launcher's own scanner
// rules, so that a template it would reject is a build error rather than a failure at run
// time, and the rules that keep the clean-up safe, since a run removes the folder its
// template names with everything in it.
#pragma once

#include <map>
#include <string>

namespace kelvor {

constexpr const char* kDefaultPathTemplate = "{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}";

// The build-time values of COMPANY, PRODUCT, VERSION, FILE_VERSION and PRODUCT_VERSION, by
// those names.
using FixedValues = std::map<std::string, std::string>;

// Throws ToolError naming the problem: an unknown or empty variable name, a "}" outside a
// name, a name left open at the end (the launcher drops it silently), text that is not valid
// UTF-8; a part of the path that is "." or ".." (or dots and spaces that Windows reads as
// such), with the fixed values put in; a last part without {RANDOM}, {TIME_US} or {TIME}, or
// with a path-valued variable ({TEMP}, {HOME}, {CACHE_DIR}, {PROGRAM}, {PROGRAM_BASE},
// {PROGRAM_DIR}) in it. So no template names a folder that outlives the run: not a drive
// root, not {TEMP} or {HOME} alone, not a fixed name.
void check_path_template(const std::string& path_template, const FixedValues& fixed);

}  // namespace kelvor
