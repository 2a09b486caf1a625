// An interrupted pack or build: the tool removes its temporary files, the one beside the
// output and its working directory in TMPDIR, and ends by the signal it was sent.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "tool_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

struct Interruption {
    const char* label;
    const char* command;  // "pack" or "build"
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

class InterruptedRun : public ::testing::TestWithParam<Interruption> {};

TEST_P(InterruptedRun, LeavesNothingTemporaryAndEndsByTheSignal) {
    testing::ScratchDirectory scratch;
    for (const char* directory : {"tmp", "out", "files", "launcher"}) fs::create_directory(scratch / directory);
    testing::write_file(scratch / "app.dll", testing::dll_image());
    // Enough data that level 19 takes seconds over it: the signal comes while it packs.
    std::string noise(16 << 20, '\0');
    for (std::uint32_t x = 1, i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
    testing::write_file(scratch / "files" / "noise.bin", noise);
    testing::write_launcher_library(scratch / "launcher");

    const bool build = std::string(GetParam().command) == "build";
    std::vector<std::string> arguments = {GetParam().command, "--app", (scratch / "app.dll").string(), "--dir",
                                          (scratch / "files").string(), "--level", "19", "-o",
                                          (scratch / "out" / (build ? "App.exe" : "App.bin")).string()};
    if (build) {
        arguments.insert(arguments.end(), {"--launcher-dir", (scratch / "launcher").string(), "--cc", "/bin/true",
                                           "--windres", "/bin/true"});
    }
    const pid_t tool = testing::start_tool(arguments, scratch / "tmp");
    ASSERT_GT(tool, 0);
    // The output's temporary file, inside the working directory for a build.
    const fs::path watched = build ? scratch / "tmp" : scratch / "out";
    const std::string temporary = build ? "payload.bin.tmp-" : "App.bin.tmp-";
    int status = 0;
    for (int waited_ms = 0; !holds(watched, temporary); waited_ms += 5) {
        if (waitpid(tool, &status, WNOHANG) != 0 || waited_ms > 30000) {
            kill(tool, SIGKILL);
            waitpid(tool, &status, 0);
            FAIL() << "the tool ended or made no temporary file";
        }
        usleep(5000);
    }
    ASSERT_EQ(kill(tool, GetParam().signal_number), 0);
    ASSERT_EQ(waitpid(tool, &status, 0), tool);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam().signal_number)
        << "status " << status << ": the tool should end by the signal it was sent";
    EXPECT_TRUE(fs::is_empty(scratch / "out")) << "left beside the output";
    EXPECT_TRUE(fs::is_empty(scratch / "tmp")) << "left in TMPDIR";
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedRun,
                         ::testing::Values(Interruption{"pack SIGINT", "pack", SIGINT},
                                           Interruption{"pack SIGTERM", "pack", SIGTERM},
                                           Interruption{"pack SIGHUP", "pack", SIGHUP},
                                           Interruption{"build SIGTERM", "build", SIGTERM}),
                         [](const ::testing::TestParamInfo<Interruption>& param) {
                             return testing::case_name(param.param.label);
                         });

}  // namespace
}  // namespace kelvor
