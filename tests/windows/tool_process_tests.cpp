// The Windows tool running a program (the signer, osslsigncode.exe): every argument arrives as
// it was given, whatever it holds; the program's output comes back through the pipe with its
// exit code; a time limit ends a program that runs on; a program that is not there is named in
// the error, and one named without ".exe" is found. The program run is the tests' command-line program, which reports its arguments.
#include <gtest/gtest.h>

#include <chrono>

#include "launcher_runs.h"
#include "process_running.h"
#include "test_arguments.h"
#include "tool_error.h"
#include "windows_test_support.h"

namespace kelvor::testing {
namespace {

std::string program() { return narrow(test_arguments().at(0)); }

struct ArgumentCase {
    const char* label;
    std::vector<std::string> arguments;
};

const ArgumentCase kArgumentCases[] = {
    {"plain", {"one", "two"}},
    {"empty", {"", "after an empty one", ""}},
    {"spaces and tabs", {"two words", "tab\there", " leading", "trailing "}},
    {"quotes", {"\"", "say \"hi\"", "\"\""}},
    {"backslashes", {"C:\\a b\\", "ends\\", "a\\\\\"b", "\\\\server\\share\\", "\\"}},
    {"outside ASCII", {"données", "Ελληνικά 空", "\xF0\x9F\x94\x91"}},
};

TEST(ToolProcessTest, EveryArgumentArrivesAsItWasGiven) {
    for (const auto& c : kArgumentCases) {
        std::vector<std::string> command = {program(), "echo", "7"};
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        std::string output;
        EXPECT_EQ(program_output_apart_from_terminal("echoing", command, output, 60), 7) << c.label;
        std::vector<std::wstring> expected = {L"echo", L"7"};
        for (const auto& argument : c.arguments) expected.push_back(widen(argument));
        EXPECT_EQ(reported_arguments(output), expected) << c.label << ": " << output;
    }
}

TEST(ToolProcessTest, ATimeLimitEndsAProgramThatRunsOn) {
    std::string output;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(program_output_apart_from_terminal("waiting", {program(), "wait"}, output, 1), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
}

TEST(ToolProcessTest, AProgramThatIsNotThereIsNamed) {
    EXPECT_FALSE(on_path("kelvor-no-such-program"));
    std::string output;
    try {
        program_output_apart_from_terminal("signing", {"kelvor-no-such-program", "sign"}, output, 60);
        FAIL() << "a missing program started";
    } catch (const ToolError& error) {
        EXPECT_STREQ(error.what(), "signing: cannot start kelvor-no-such-program: No such file or directory");
    }
}

TEST(ToolProcessTest, AProgramIsFoundWithoutItsExtension) {
    std::string name = program();
    ASSERT_EQ(name.substr(name.size() - 4), ".exe");
    name.resize(name.size() - 4);
    EXPECT_TRUE(on_path(name));
    std::string output;
    EXPECT_EQ(program_output_apart_from_terminal("echoing", {name, "echo", "0", "x"}, output, 60), 0);
    EXPECT_EQ(output, "arg 1 0065 0063 0068 006f\r\narg 2 0030\r\narg 3 0078\r\n");
}

}  // namespace
}  // namespace kelvor::testing
