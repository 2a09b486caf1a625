// Where the tool finds what ships with it. The build tree and an installation have the same
// layout around the tool: bin/kelvor-onefile, share/kelvor-onefile/ (default icons) and
// lib/kelvor-onefile/ (the launcher library).
#pragma once

#include <filesystem>
#include <string>

namespace kelvor {

// prefix/<relative>, where prefix is the directory above the tool's own bin directory.
std::filesystem::path installation_path(const std::string& relative);

}  // namespace kelvor
