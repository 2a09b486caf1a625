#include "tool_paths.h"

#include "tool_error.h"

namespace kelvor {

namespace {

void require_file(const std::filesystem::path& directory, const std::string& file, const std::string& what) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(directory / file, error)) {
        throw ToolError(what + " is not in '" + directory.string() + "' (" + file +
                        "); name its directory with --launcher-dir");
    }
}

}  // namespace

std::filesystem::path installation_path(const std::string& relative) {
    std::error_code error;
    const auto tool = std::filesystem::read_symlink("/proc/self/exe", error);
    return tool.parent_path().parent_path() / relative;
}

std::filesystem::path launcher_directory(const std::optional<std::string>& given) {
    return given ? std::filesystem::path(*given) : installation_path("lib/kelvor-onefile");
}

void check_launcher_library(const std::filesystem::path& directory) {
    for (const char* library : {"libkelvor_launcher_core.a", "libkelvor_zstd_decompress.a"}) {
        require_file(directory, library, "the launcher library");
    }
}

std::filesystem::path runner_dll(const std::filesystem::path& directory) {
    const char file[] = "kelvor-runner.dll";
    require_file(directory, file, "the runner DLL");
    return directory / file;
}

}  // namespace kelvor
