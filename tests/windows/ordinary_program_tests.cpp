// An ordinary program packed with the runner DLL, against the same program run directly: the
// arguments it gets, its binary input and output through pipes and its exit code are the same,
// but for the differences the launcher documents; and the program, with every process it
// starts, ends when the runner's process is terminated.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <optional>
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
    const wchar_t* typed;                // the command line after the program's name
    std::vector<std::wstring> plain;     // what the plain program gets, after "echo" and the code
    std::optional<std::vector<std::wstring>> packed = std::nullopt;  // what a packed one gets, where it differs
};

// What the program's runtime makes of each line, and where a packed program differs: the
// launcher drops empty arguments, and its parent splits its command line as
// CommandLineToArgvW does, where a doubled quote inside quotes is a quote that ends the quoted
// part; the runtime keeps the quoted part open.
const ArgumentCase kArgumentCases[] = {
    {"plain words", L"one two", {L"one", L"two"}},
    {"spaces and tabs in quotes", L"\"two words\" \"tab\there\"", {L"two words", L"tab\there"}},
    {"escaped quotes", L"\"say \\\"hi\\\"\" \\\"", {L"say \"hi\"", L"\""}},
    {"backslashes", L"C:\\a\\b \"C:\\a b\\\\\" ends\\\\ a\\\\\\\"b",
     {L"C:\\a\\b", L"C:\\a b\\", L"ends\\\\", L"a\\\"b"}},
    {"non-ASCII", L"caf\u00e9 \"\u65e5\u672c \u00fc\"", {L"caf\u00e9", L"\u65e5\u672c \u00fc"}},
    {"empty ones", L"\"\" first \"\" last \"\"", {L"", L"first", L"", L"last", L""}, {{L"first", L"last"}}},
    {"a doubled quote inside quotes", L"a\"b\"\"c d\"e", {L"ab\"c de"}, {{L"ab\"c", L"de"}}},
    {"a doubled quote closing quotes", L"\"a b\"\"\" c", {L"a b\"", L"c"}, {{L"a b\" c"}}},
};

std::vector<std::wstring> with_echo(const std::vector<std::wstring>& arguments) {
    std::vector<std::wstring> all = {L"echo", L"7"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

class OrdinaryProgram : public LauncherTest {
protected:
    ProcessResult run(const std::wstring& program, const std::wstring& arguments, const std::string& input = "") {
        return run_through_pipes(typed(launch_options(program, {}), arguments), input);
    }
};

TEST_F(OrdinaryProgram, ArgumentsAndExitCodeAreThePlainProgramsButForTheDocumentedDifferences) {
    for (const auto& c : kArgumentCases) {
        const std::wstring arguments = L"echo 7 " + std::wstring(c.typed);
        const auto plain = run(plain_program(), arguments);
        const auto packed = run(console_launcher(), arguments);
        EXPECT_EQ(plain.exit_code, 7u) << c.label;
        EXPECT_EQ(packed.exit_code, 7u) << c.label << packed.err;
        EXPECT_EQ(reported_arguments(plain.out), with_echo(c.plain)) << c.label;
        EXPECT_EQ(reported_arguments(packed.out), with_echo(c.packed.value_or(c.plain))) << c.label;
        if (!c.packed) {
            EXPECT_EQ(packed.out, plain.out) << c.label;
        }
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

// The parent's id of every process.
std::map<DWORD, DWORD> parents_of_processes() {
    std::map<DWORD, DWORD> parents;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        parents[entry.th32ProcessID] = entry.th32ParentProcessID;
    }
    CloseHandle(snapshot);
    return parents;
}

DWORD reported_id(const std::string& out, const std::string& word) {
    const auto values = reported(out, word);
    return values.empty() ? 0 : static_cast<DWORD>(std::stoul(values.front()));
}

// The launcher's child run holds the runner, which started the program, which started one more.
TEST_F(OrdinaryProgram, TheProgramAndWhatItStartsEndWhenTheRunnerIsTerminated) {
    RunningProcess launcher(launch_options(console_launcher(), {L"spawn"}));
    std::string out;
    for (int i = 0; i < 600 && reported(out, "child").empty(); ++i, Sleep(100)) out = launcher.output_so_far();
    const DWORD program_id = reported_id(out, "pid"), started_id = reported_id(out, "child");
    ASSERT_NE(started_id, 0u) << out;
    HANDLE program = OpenProcess(SYNCHRONIZE, FALSE, program_id);
    HANDLE started = OpenProcess(SYNCHRONIZE, FALSE, started_id);
    ASSERT_NE(program, nullptr);
    ASSERT_NE(started, nullptr);

    auto parents = parents_of_processes();
    const DWORD runner_id = parents[program_id];
    ASSERT_EQ(parents[runner_id], launcher.id()) << "the program's parent is the launcher's child";
    HANDLE runner = OpenProcess(PROCESS_TERMINATE, FALSE, runner_id);
    ASSERT_NE(runner, nullptr);
    ASSERT_TRUE(TerminateProcess(runner, 9));
    CloseHandle(runner);

    EXPECT_EQ(WaitForSingleObject(program, 10000), WAIT_OBJECT_0) << "the program outlived the runner";
    EXPECT_EQ(WaitForSingleObject(started, 10000), WAIT_OBJECT_0) << "what the program started outlived the runner";
    CloseHandle(program);
    CloseHandle(started);
    const auto result = launcher.wait(60000);
    EXPECT_EQ(result.exit_code, 9u);
    EXPECT_TRUE(leftovers().empty()) << "nothing held the target directory at the clean-up";
}

}  // namespace
}  // namespace kelvor::testing
