#include "tool_paths.h"

#include "launcher_linking.h"
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

std::string cpu_level(const std::optional<std::string>& given) {
    if (!given) return linking::kDefaultCpu;
    std::string levels;
    for (const char* level : linking::kCpuLevels) {
        if (*given == level) return level;
        levels += (levels.empty() ? "" : ", ") + std::string(level);
    }
    throw UsageError("--cpu: '" + *given + "' is not a processor level (" + levels + ")");
}

std::string cpu_level_help() {
    std::string help =
        "  --cpu LEVEL                the processor level the launcher's code is built for (default\n"
        "                             " + std::string(linking::kDefaultCpu) +
        "); a processor without it gets a message and exit code 2:\n";
    for (size_t level = 0; level < std::size(linking::kCpuLevels); ++level) {
        std::string name = linking::kCpuLevels[level];
        name.resize(12, ' ');
        help += "                               " + name + linking::kCpuRunsOn[level] + "\n";
    }
    return help +
           "                             For machines nobody knows, choose x86-64-v2.\n";
}

std::filesystem::path launcher_library(const std::filesystem::path& directory, const std::string& level) {
    const auto library = directory / level;
    for (const char* archive : {"libkelvor_launcher_core.a", "libkelvor_zstd_decompress.a"}) {
        require_file(library, archive, "the launcher library");
    }
    return library;
}

std::filesystem::path runner_dll(const std::filesystem::path& directory) {
    const char file[] = "kelvor-runner.dll";
    require_file(directory, file, "the runner DLL");
    return directory / file;
}

}  // namespace kelvor
