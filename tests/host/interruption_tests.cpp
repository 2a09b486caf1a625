// An interrupted pack, build or extract: the tool removes its temporary files (the one beside
// the output, its working directory in TMPDIR, the directory that extract fills) and ends by
// the signal it was sent.
#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

#include "tool_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

struct Interruption {
    const char* label;
    const char* command;  // "pack", "build" or "extract"
    int signal_number;
};

// Whether a name beginning with prefix is somewhere below directory.
bool holds(const fs::path& directory, const std::string& prefix) {
    std::error_code error;
    for (fs::recursive_directory_iterator item(directory, error), end; !error && item != end; item.increment(error)) {
        if (item->path().filename().string().rfind(prefix, 0) == 0) return true;
    }
    return false;
}

// Files to pack: enough data that level 19 takes seconds over it, so that the signal comes
// while it packs; for extract, thousands of small files in many folders, so that it comes
// while files and folders are being made.
void write_inputs(const fs::path& files, bool many_small) {
    std::string noise(many_small ? 3000 : 16 << 20, '\0');
    for (std::uint32_t x = 1, i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
    if (!many_small) return testing::write_file(files / "noise.bin", noise);
    for (int i = 0; i < 3000; ++i) testing::write_file(files / std::to_string(i % 60) / std::to_string(i), noise);
}

// The tool's arguments, the folder its temporary appears in and that temporary's prefix.
struct InterruptedCommand {
    std::vector<std::string> arguments;
    fs::path watched;
    std::string temporary;
};

InterruptedCommand command_for(const std::string& command, const testing::ScratchDirectory& scratch) {
    const auto common = [&](const std::string& output) {
        return std::vector<std::string>{command, "--app", (scratch / "app.dll").string(), "--dir",
                                        (scratch / "files").string(), "--level", "19",
                                        "-o", (scratch / "out" / output).string()};
    };
    if (command == "pack") return {common("App.bin"), scratch / "out", "App.bin.tmp-"};
    if (command == "build") {
        auto arguments = common("App.exe");
        arguments.insert(arguments.end(), {"--launcher-dir", (scratch / "launcher").string()});
        // The output's temporary file, inside the working directory.
        return {arguments, scratch / "tmp", "payload.bin.tmp-"};
    }
    const auto packed = testing::run_tool({"pack", "--app", (scratch / "app.dll").string(), "--dir",
                                           (scratch / "files").string(), "--level", "1", "-o",
                                           (scratch / "payload.bin").string()});
    if (packed.exit_code != 0) throw std::runtime_error(packed.err);
    return {{"extract", (scratch / "payload.bin").string(), "-o", (scratch / "out" / "App").string()}, scratch / "out",
            "App.tmp-"};
}

class InterruptedRun : public ::testing::TestWithParam<Interruption> {};

TEST_P(InterruptedRun, LeavesNothingTemporaryAndEndsByTheSignal) {
    testing::ScratchDirectory scratch;
    for (const char* directory : {"tmp", "out", "files", "launcher"}) fs::create_directory(scratch / directory);
    testing::write_file(scratch / "app.dll", testing::dll_image());
    const std::string command = GetParam().command;
    write_inputs(scratch / "files", command == "extract");
    testing::write_prebuilt_launchers(scratch / "launcher");
    const InterruptedCommand run = command_for(command, scratch);
    // Extracting is quick and its race is narrow: a few runs, each interrupted as soon as the
    // temporary appears.
    for (int attempt = 0; attempt < (command == "extract" ? 5 : 1); ++attempt) {
        const pid_t tool = testing::start_tool(run.arguments, scratch / "tmp");
        ASSERT_GT(tool, 0);
        int status = 0;
        for (int waited_ms = 0; !holds(run.watched, run.temporary); waited_ms += 1) {
            if (waitpid(tool, &status, WNOHANG) != 0 || waited_ms > 30000) {
                kill(tool, SIGKILL);
                waitpid(tool, &status, 0);
                FAIL() << "the tool ended or made no temporary file";
            }
            usleep(1000);
        }
        ASSERT_EQ(kill(tool, GetParam().signal_number), 0);
        ASSERT_EQ(waitpid(tool, &status, 0), tool);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam().signal_number)
            << "status " << status << ": the tool should end by the signal it was sent";
        EXPECT_TRUE(fs::is_empty(scratch / "out")) << "left beside the output, attempt " << attempt;
        EXPECT_TRUE(fs::is_empty(scratch / "tmp")) << "left in TMPDIR";
        std::error_code ignored;
        fs::remove_all(scratch / "out", ignored);
        fs::create_directory(scratch / "out");
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedRun,
                         ::testing::Values(Interruption{"pack SIGINT", "pack", SIGINT},
                                           Interruption{"pack SIGTERM", "pack", SIGTERM},
                                           Interruption{"pack SIGHUP", "pack", SIGHUP},
                                           Interruption{"build SIGTERM", "build", SIGTERM},
                                           Interruption{"extract SIGINT", "extract", SIGINT},
                                           Interruption{"extract SIGTERM", "extract", SIGTERM},
                                           Interruption{"extract SIGHUP", "extract", SIGHUP}),
                         [](const ::testing::TestParamInfo<Interruption>& param) {
                             return testing::case_name(param.param.label);
                         });

}  // namespace
}  // namespace kelvor
