#include "tool_paths.h"

#include "launcher_linking.h"
#include "native_files.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

void require_file(const std::filesystem::path& directory, const std::string& file, const std::string& what) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(directory / path_from_utf8(file), error)) {
        throw ToolError(what + " is not in '" + utf8_of(directory) + "' (" + file +
                        "); name its directory with --launcher-dir");
    }
}

}  // namespace

std::filesystem::path installation_path(const std::string& relative) {
    return own_executable().parent_path().parent_path() / path_from_utf8(relative);
}

std::filesystem::path launcher_directory(const std::optional<std::string>& given) {
    return given ? path_from_utf8(*given) : installation_path(linking::kLauncherDirectory);
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

OptionSpec launcher_directory_option(const std::string& what) {
    return {{"--launcher-dir"}, "DIR", what + "\n(default: " + linking::kLauncherDirectory + " beside bin/)"};
}

OptionSpec cpu_level_option() {
    std::string help = "the processor level the launcher's code is built for (default\n" +
                       std::string(linking::kDefaultCpu) + "); a processor without it gets a message and exit code 2:\n";
    for (size_t level = 0; level < std::size(linking::kCpuLevels); ++level) {
        std::string name = linking::kCpuLevels[level];
        name.resize(12, ' ');
        help += "  " + name + linking::kCpuRunsOn[level] + "\n";
    }
    return {{"--cpu"}, "LEVEL", help + "For machines nobody knows, choose x86-64-v2."};
}

std::filesystem::path prebuilt_launcher(const std::filesystem::path& directory, const std::string& level,
                                        Subsystem subsystem) {
    const std::string file =
        subsystem == Subsystem::console ? linking::kPrebuiltConsoleLauncher : linking::kPrebuiltGuiLauncher;
    const auto level_directory = directory / path_from_utf8(level);
    require_file(level_directory, file, "the prebuilt launcher");
    return level_directory / path_from_utf8(file);
}

std::filesystem::path runner_dll(const std::filesystem::path& directory) {
    require_file(directory, linking::kRunnerDll, "the runner DLL");
    return directory / path_from_utf8(linking::kRunnerDll);
}

}  // namespace kelvor
