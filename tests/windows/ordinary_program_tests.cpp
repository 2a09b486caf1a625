// An ordinary program packed in a launcher, against the same program run directly: the parent
// run starts it as a plain start would, so the name it was run by, its command line as its own
// runtime splits it, its environment, its binary input and output through pipes, its exit code
// and the processes it leaves running are those of the plain program.
#include <gtest/gtest.h>

#include <windows.h>

#include <random>

#include "launcher_runs.h"
#include "test_arguments.h"

namespace kelvor::testing {
namespace {

const std::wstring& plain_program() { return test_arguments().at(0); }
const std::wstring& console_launcher() { return test_arguments().at(1); }
const std::wstring& gui_launcher() { return test_arguments().at(2); }

// The program given its command line as it stands, after its own quoted path.
ProcessOptions typed(const ProcessOptions& base, const std::wstring& arguments) {
    ProcessOptions options = base;
    options.command_line = quote_argument(base.application) + L" " + arguments;
    return options;
}

struct ArgumentCase {
    const char* label;
    const wchar_t* typed;             // the command line after the program's name
    std::vector<std::wstring> split;  // what the program's runtime makes of it, after "echo" and the code
};

// Lines whose splitting differs between the C runtime and CommandLineToArgvW, or that a
// re-quoting would change, among plain ones.
const ArgumentCase kArgumentCases[] = {
    {"plain words", L"one two", {L"one", L"two"}},
    {"spaces and tabs", L"\"two words\" \"tab\there\" a\tb  c", {L"two words", L"tab\there", L"a", L"b", L"c"}},
    {"escaped quotes", L"\"say \\\"hi\\\"\" \\\"", {L"say \"hi\"", L"\""}},
    {"backslashes", L"C:\\a\\b \"C:\\a b\\\\\" ends\\\\ a\\\\\\\"b",
     {L"C:\\a\\b", L"C:\\a b\\", L"ends\\\\", L"a\\\"b"}},
    {"a trailing backslash", L"dir\\ \"quoted dir\\\\\"", {L"dir\\", L"quoted dir\\"}},
    {"non-ASCII", L"caf\u00e9 \"\u65e5\u672c \u00fc\"", {L"caf\u00e9", L"\u65e5\u672c \u00fc"}},
    {"empty ones", L"\"\" first \"\" last \"\"", {L"", L"first", L"", L"last", L""}},
    {"a doubled quote inside quotes", L"a\"b\"\"c d\"e", {L"ab\"c de"}},
    {"a doubled quote closing quotes", L"\"a b\"\"\" c", {L"a b\"", L"c"}},
};

std::vector<std::wstring> with_echo(const std::vector<std::wstring>& arguments) {
    std::vector<std::wstring> all = {L"echo", L"7"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

class OrdinaryProgram : public LauncherTest {
protected:
    ProcessResult run(const std::wstring& program, const std::wstring& arguments, const std::string& input = "",
                      std::map<std::wstring, std::wstring> environment = {}) {
        return run_through_pipes(typed(launch_options(program, {}, std::move(environment)), arguments), input);
    }
};

TEST_F(OrdinaryProgram, TheCommandLineReachesTheProgramAsItStands) {
    for (const auto& c : kArgumentCases) {
        const std::wstring arguments = L"echo 7 " + std::wstring(c.typed);
        const auto plain = run(plain_program(), arguments);
        EXPECT_EQ(plain.exit_code, 7u) << c.label;
        EXPECT_EQ(reported_arguments(plain.out), with_echo(c.split)) << c.label;
        for (const auto& launcher : {console_launcher(), gui_launcher()}) {
            const auto packed = run(launcher, arguments);
            EXPECT_EQ(packed.exit_code, 7u) << c.label << packed.err;
            EXPECT_EQ(packed.out, plain.out) << c.label;
        }
    }
    EXPECT_TRUE(leftovers().empty());
}

// CreateProcessW takes 32,767 characters with the terminator.
TEST_F(OrdinaryProgram, TheLongestCommandLineWindowsTakesRunsPacked) {
    for (const auto& launcher : {plain_program(), console_launcher()}) {
        ProcessOptions options = launch_options(launcher, {});
        const std::wstring start = quote_argument(launcher) + L" echo 0 ";
        options.command_line = start + std::wstring(32766 - start.size(), L'x');
        const auto result = run_through_pipes(options, "");
        EXPECT_EQ(result.exit_code, 0u) << narrow(launcher) << result.err;
        const auto arguments = reported_arguments(result.out);
        ASSERT_EQ(arguments.size(), 3u) << narrow(launcher);
        EXPECT_EQ(arguments[2].size(), 32766 - start.size());
    }
    EXPECT_TRUE(leftovers().empty());
}

// A multi-call program chooses what to do by the name it was run by.
TEST_F(OrdinaryProgram, TheProgramSeesTheNameItWasRunBy) {
    const std::wstring bin = scratch_ / L"bin";
    for (const std::wstring name : {L"zstdcat.exe", L"unzstd.exe"}) {
        const std::wstring packed_copy = copy_launcher(console_launcher(), bin, name);
        const std::wstring plain_copy = copy_launcher(plain_program(), bin + L"\\plain", name);
        for (const std::wstring& typed_name : {name, name.substr(0, name.size() - 4)}) {
            ProcessOptions plain = launch_options(plain_copy, {});
            plain.application = plain_copy;
            plain.command_line = typed_name + L" name";
            ProcessOptions packed = plain;
            packed.application = packed_copy;
            const auto plain_run = run_through_pipes(plain, ""), packed_run = run_through_pipes(packed, "");
            EXPECT_EQ(reported_arguments(packed_run.out), std::vector<std::wstring>{typed_name}) << packed_run.err;
            EXPECT_EQ(packed_run.out, plain_run.out);
        }
    }
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(OrdinaryProgram, TheProgramAndWhatItStartsSeeTheEnvironmentTheLauncherWasGiven) {
    const std::wstring names =
        L"KELVOR_ONEFILE_DIRECTORY KELVOR_ONEFILE_PARENT KELVOR_ONEFILE_RANDOM KELVOR_ONEFILE_TIME_US "
        L"KELVOR_ONEFILE_START KELVOR_ORIGINAL_ARGV0 GIVEN";
    for (const std::wstring command : {L"env ", L"nested env "}) {
        const auto plain = run(plain_program(), command + names, "", {{L"GIVEN", L"kept"}});
        const auto packed = run(console_launcher(), command + names, "", {{L"GIVEN", L"kept"}});
        EXPECT_EQ(packed.out, plain.out) << packed.err;
        const auto values = reported(packed.out, "env");
        ASSERT_FALSE(values.empty()) << packed.out;
        EXPECT_EQ(values.back(), "GIVEN=kept");
    }
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(OrdinaryProgram, ExitCodesAndCrashesPassThrough) {
    const std::pair<const wchar_t*, DWORD> cases[] = {
        {L"echo 0", 0}, {L"echo 3", 3}, {L"echo 259", 259}, {L"echo 0xC0000005", 0xC0000005u}, {L"crash", 0xC0000005u}};
    for (const auto& [arguments, code] : cases) {
        EXPECT_EQ(run(plain_program(), arguments).exit_code, code) << narrow(arguments);
        EXPECT_EQ(run(console_launcher(), arguments).exit_code, code) << narrow(arguments);
    }
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(OrdinaryProgram, BinaryDataPassesThroughPipesUnchangedWithTheExitCode) {
    // Every byte value, CR LF pairs and Ctrl-Z among them, in 4 MiB.
    std::string data(4u << 20, '\0');
    std::mt19937 random(16);
    for (auto& byte : data) byte = static_cast<char>(random());
    data.replace(1000, 6, "\r\n\x1a\n\r\0", 6);
    for (const auto& launcher : {plain_program(), console_launcher(), gui_launcher()}) {
        const auto copied = run(launcher, L"copy 5", data);
        EXPECT_EQ(copied.exit_code, 5u) << narrow(launcher) << copied.err;
        EXPECT_EQ(first_difference(copied.out, data), "") << narrow(launcher);
    }
    EXPECT_TRUE(leftovers().empty());
}

// What the program leaves running keeps running, as it would without the launcher.
TEST_F(OrdinaryProgram, AHelperTheProgramLeavesRunningLivesOn) {
    // Through files, not pipes: the helper holds the standard handles it inherited.
    const auto result = launch(console_launcher(), {L"leave"});
    EXPECT_EQ(result.exit_code, 0u) << result.err;
    const auto child = reported(result.out, "child");
    ASSERT_EQ(child.size(), 1u) << result.out;
    HANDLE helper = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(std::stoul(child[0])));
    ASSERT_NE(helper, nullptr);
    EXPECT_EQ(WaitForSingleObject(helper, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the helper was ended";
    TerminateProcess(helper, 0);
    WaitForSingleObject(helper, 10000);
    CloseHandle(helper);
}

}  // namespace
}  // namespace kelvor::testing
