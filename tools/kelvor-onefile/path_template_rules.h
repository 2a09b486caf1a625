// The rules a path template must meet when an executable is built: the launcher's own scanner
// rules, so that a template it would reject is a build error rather than a failure at run
// time, and the rules that keep the clean-up safe, since a run removes the folder its
// template names with everything in it.
#pragma once

#include <cstddef>
#include <map>
#include <string>

// The launcher expands the template into a buffer of target_directory_capacity UTF-16 units.
#include "files/target_directory_capacity.h"

namespace kelvor {

// Windows takes at most this many characters in one part of a path.
constexpr size_t kLongestPathPart = 255;

// The build-time values of COMPANY, PRODUCT, VERSION, FILE_VERSION and PRODUCT_VERSION, by
// those names.
using FixedValues = std::map<std::string, std::string>;

// Throws ToolError naming the problem: an unknown or empty variable name, a "}" outside a
// name, a name left open at the end (the launcher drops it silently), text that is not valid
// UTF-8; with the fixed values put in, a character that Windows does not allow in paths
// (" < > | ? *, control characters, and ':' anywhere but after a drive letter at the start),
// an expansion that can be longer than the launcher's target directory holds (run-time values
// at their longest, paths at their shortest), the \\?\ form, or a part of the path that is
// "." or ".." (or dots and spaces that Windows reads as such), names a device, ends in a dot
// or a space, or can be longer than 255 characters; a last part without
// {RANDOM}, {TIME_US} or {TIME}, or with a path-valued variable ({TEMP}, {HOME},
// {CACHE_DIR}, {PROGRAM}, {PROGRAM_BASE}, {PROGRAM_DIR}) in it. So no template names a folder
// that outlives the run: not a drive root, not {TEMP} or {HOME} alone, not a fixed name.
void check_path_template(const std::string& path_template, const FixedValues& fixed);

}  // namespace kelvor
