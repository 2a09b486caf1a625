// The launcher end to end: real executables started as a user starts them, checked by what a
// user sees (the output, the exit code, the files on disk) and by what the probe application
// reports from inside the run.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <set>

#include "launcher_runs.h"
#include "test_arguments.h"

namespace kelvor::testing {
namespace {

// The executables the build made, in the order the build passes them.
const std::wstring& probe_launcher() { return test_arguments().at(0); }
const std::wstring& reference_launcher() { return test_arguments().at(1); }
const std::wstring& not_a_dll_launcher() { return test_arguments().at(2); }
const std::wstring& no_run_code_launcher() { return test_arguments().at(3); }
const std::wstring& planted_dependency() { return test_arguments().at(4); }
const std::wstring& hello_launcher() { return test_arguments().at(5); }
const std::wstring& unchecked_launcher() { return test_arguments().at(6); }

std::wstring windows_path(std::wstring path) {
    for (auto& c : path) c = c == L'/' ? L'\\' : c;
    return path;
}

TEST_F(LauncherTest, ArgumentsReachRunCodeExactly) {
    const std::vector<std::wstring> tricky = {
        L"plain",        L"two words",     L"tab\there",     L"say \"hi\"",     L"C:\\a b\\",
        L"C:\\a\\b",     L"ends\\\\",      L"a\\\\\"b",      L"\"",             L"\\\\\\\"",
        L"",             L"caf\u00e9 \u65e5\u672c",           L"line\nfeed",     L"vertical\vtab",
        L"  ",           L"last"};
    std::vector<std::wstring> arguments = {L"args"};
    arguments.insert(arguments.end(), tricky.begin(), tricky.end());
    const auto run = launch(probe_launcher(), arguments);
    ASSERT_EQ(run.exit_code, 0u) << run.err;

    std::vector<std::wstring> expected = {windows_path(probe_launcher())};
    for (const auto& argument : arguments) {
        if (!argument.empty()) expected.push_back(argument);  // an empty argument is not passed on
    }
    EXPECT_EQ(reported_arguments(run.out), expected);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(LauncherTest, ArgumentZeroIsTheFullPathWhenStartedByARelativeName) {
    const std::wstring bin = scratch_ / L"bin";
    copy_launcher(probe_launcher(), bin, L"probe.exe");
    // As a shell starts it: the command line says "probe", the system finds bin\probe.exe.
    ProcessOptions options;
    options.application = bin + L"\\probe.exe";
    options.command_line = L"probe args env:KELVOR_ORIGINAL_ARGV0 env:KELVOR_ONEFILE_DIRECTORY";
    options.current_directory = bin;
    const auto run = launch_with(options);
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    const auto arguments = reported_arguments(run.out);
    ASSERT_FALSE(arguments.empty());
    EXPECT_EQ(arguments[0], bin + L"\\probe.exe");
    const auto env = reported(run.out, "env");
    ASSERT_EQ(env.size(), 2u);
    EXPECT_EQ(env[0], "KELVOR_ORIGINAL_ARGV0=probe") << "the form that was typed";
    EXPECT_EQ(env[1], "KELVOR_ONEFILE_DIRECTORY=" + narrow(bin)) << "the launcher's own directory";
}

// The child's command line is the launcher's full path (quoted when it holds a space) and the
// arguments, re-quoted; it may hold 32,768 characters, and one more ends the run before a child
// starts. The parent is started by a one-letter name, so that its own line stays short enough
// for the system to pass on while the child's reaches the limit exactly, whatever the length
// of the scratch path.
TEST_F(LauncherTest, AChildCommandLineOf32766CharactersFitsAndOneMoreAborts) {
    const std::wstring bin = scratch_ / L"bin";
    copy_launcher(probe_launcher(), bin, L"p.exe");
    ProcessOptions options;
    options.application = bin + L"\\p.exe";
    options.command_line = L"p args";
    const auto first = launch_with(options);
    ASSERT_EQ(first.exit_code, 0u) << first.err;
    const std::wstring own_path = reported_arguments(first.out).at(0);
    const size_t path_length = own_path.size() + (own_path.find_first_of(L" \t") == std::wstring::npos ? 0 : 2);
    const std::wstring arguments = L" exit:5 ";
    const auto line_of = [&](size_t length) {
        return L"p" + arguments + std::wstring(length - path_length - arguments.size(), L'x');
    };

    // The longest line a process can be started with; a longer one would not start the child
    // (Windows) or would reach it cut short (Wine), so it ends the run before anything is written.
    options.command_line = line_of(32766);
    const auto fits = launch_with(options);
    EXPECT_EQ(fits.exit_code, 5u) << fits.err;
    EXPECT_TRUE(leftovers().empty());

    options.command_line = line_of(32767);
    const auto beyond = launch_with(options);
    EXPECT_EQ(beyond.exit_code, 3u);
    EXPECT_EQ(beyond.out, "");
    EXPECT_EQ(beyond.err, "");
}

TEST_F(LauncherTest, ExitCodesPassThroughAfterTheDirectoryIsRemoved) {
    const std::pair<const wchar_t*, DWORD> cases[] = {
        {L"exit:0", 0}, {L"exit:3", 3}, {L"exit:-5", 0xFFFFFFFBu}, {L"crash", 0xC0000005u}};
    for (const auto& [command, code] : cases) {
        const auto run = launch(probe_launcher(), {L"dll", command});
        EXPECT_EQ(run.exit_code, code) << narrow(command);
        EXPECT_EQ(reported(run.out, "dll").size(), 1u) << narrow(command);
        EXPECT_TRUE(leftovers().empty()) << narrow(command);
    }
}

TEST_F(LauncherTest, TargetDirectoryIsNamedForTheParentAndHoldsThePackedFiles) {
    const auto run = launch(probe_launcher(), {L"dll", L"list", L"env:KELVOR_ONEFILE_DIRECTORY"});
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    const auto dll = reported(run.out, "dll");
    ASSERT_EQ(dll.size(), 1u);
    const std::regex name(std::regex_replace(narrow(temp_), std::regex(R"([\\.])"), R"(\$&)") +
                          R"(\\onefile_)" + std::to_string(run.process_id) + R"(_[0-9]{6}_[A-Za-z0-9_-]{11}\\probe_app\.dll)");
    EXPECT_TRUE(std::regex_match(dll[0], name)) << dll[0];

    const auto listed = reported(run.out, "file");
    std::set<std::string> names;
    for (const auto& entry : listed) names.insert(entry.substr(0, entry.rfind(' ')));
    EXPECT_EQ(names, (std::set<std::string>{"probe_app.dll", "probe_dep.dll", "empty.txt", "data\\hello.txt",
                                            "data\\nested\\deeper\\x.bin"}));
    EXPECT_EQ(reported(run.out, "env"),
              std::vector<std::string>{"KELVOR_ONEFILE_DIRECTORY=" +
                                       narrow(windows_path(probe_launcher().substr(0, probe_launcher().rfind(L'/'))))});
    EXPECT_TRUE(leftovers().empty()) << "removed after the run";
}

TEST_F(LauncherTest, AnythingButALivingParentOfTheSameProgramMakesAParentRun) {
    const std::wstring this_process = std::to_wstring(GetCurrentProcessId());
    for (const wchar_t* value : {L"", L"letters", L"12ab", L"99999999999999999999", this_process.c_str()}) {
        const auto run = launch(probe_launcher(), {L"env:KELVOR_ONEFILE_PARENT", L"list"},
                                {{L"KELVOR_ONEFILE_PARENT", value}});
        EXPECT_EQ(run.exit_code, 0u) << narrow(value) << run.err;
        EXPECT_EQ(reported(run.out, "env"),
                  std::vector<std::string>{"KELVOR_ONEFILE_PARENT=" + std::to_string(run.process_id)})
            << narrow(value);
        EXPECT_EQ(reported(run.out, "file").size(), 5u) << "unpacked by this run: " << narrow(value);
    }
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(LauncherTest, ANestedStartIsAChildRunThatReusesTheDirectory) {
    // The outer run changes an unpacked file; the nested run sees the change, so it wrote
    // nothing of its own.
    const auto run = launch(probe_launcher(), {L"dll", L"touch:data\\hello.txt", L"nested:dll,list"});
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    const auto dll = reported(run.out, "dll");
    ASSERT_EQ(dll.size(), 2u);
    EXPECT_EQ(dll[0], dll[1]);
    const auto files = reported(run.out, "file");
    EXPECT_NE(std::find(files.begin(), files.end(), "data\\hello.txt 7"), files.end());
    EXPECT_EQ(reported(run.out, "nested"), std::vector<std::string>{"exit=0"});
    EXPECT_TRUE(leftovers().empty());
}

// A nested start inherits the run's environment with values changed to lead out of the
// target directory, to where a DLL without run_code waits. A value of any form but the
// launcher's own counts as unset: the child makes a fresh one, finds no DLL there, and loads
// nothing from outside.
TEST_F(LauncherTest, CraftedValuesInTheEnvironmentLoadNothingFromOutside) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        // TEMP\onefile_P_T_x\..\..\evil is scratch\evil.
        {L"setenv:KELVOR_ONEFILE_RANDOM=x\\..\\..\\evil", L"evil"},
        // TEMP\onefile_P_0\..\..\evil_AAAAAAAAAAA is scratch\evil_AAAAAAAAAAA.
        {L"setenv:KELVOR_ONEFILE_TIME_US=0\\..\\..\\evil", L"evil_AAAAAAAAAAA"},
    };
    for (const auto& [crafted, planted_at] : cases) {
        const std::wstring planted = scratch_ / planted_at;
        CreateDirectoryW(planted.c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(planted_dependency().c_str(), (planted + L"\\probe_app.dll").c_str(), FALSE));
        const auto run = launch(probe_launcher(), {L"setenv:KELVOR_ONEFILE_RANDOM=AAAAAAAAAAA", crafted,
                                                   L"nested:dll,exit:5", L"exit:6"});
        EXPECT_EQ(run.exit_code, 6u) << narrow(crafted);
        EXPECT_EQ(reported(run.out, "nested"), std::vector<std::string>{"exit=2"}) << narrow(crafted) << run.out;
        EXPECT_EQ(run.out.find("entry point"), std::string::npos) << narrow(crafted) << ": the planted DLL ran";
        EXPECT_EQ(run.err.rfind("Error, load DLL. ([Error 126] ", 0), 0u) << narrow(crafted) << run.err;
        EXPECT_TRUE(leftovers().empty()) << narrow(crafted);
    }
}

TEST_F(LauncherTest, DllsPlantedBesideTheLauncherOrInTheCurrentDirectoryAreNeverLoaded) {
    const std::wstring bin = scratch_ / L"bin";
    const std::wstring cwd = scratch_ / L"cwd";
    const std::wstring launcher = copy_launcher(probe_launcher(), bin, L"probe.exe");
    CreateDirectoryW(cwd.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(planted_dependency().c_str(), (bin + L"\\probe_dep.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(planted_dependency().c_str(), (cwd + L"\\probe_dep.dll").c_str(), FALSE));
    const auto run = launch(launcher, {L"dll", L"import"}, {}, cwd);
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    const auto dll = reported(run.out, "dll");
    ASSERT_EQ(dll.size(), 1u);
    const std::string target = dll[0].substr(0, dll[0].rfind('\\'));
    EXPECT_EQ(reported(run.out, "dependency"), std::vector<std::string>{target + "\\probe_dep.dll"});
}

TEST_F(LauncherTest, TheReferenceFrameShapeUnpacksAndRuns) {
    const std::string image = read_file(reference_launcher());
    const size_t frame = image.find(std::string("KAY\x28\xb5\x2f\xfd", 7));
    ASSERT_NE(frame, std::string::npos);
    EXPECT_EQ(image[frame + 7], '\x04') << "frame header: the content checksum, no content size";
    EXPECT_EQ(static_cast<unsigned char>(image[frame + 8]), 0x88) << "window descriptor: 2^27";
    const auto run = launch(reference_launcher(), {L"list", L"exit:4"});
    EXPECT_EQ(run.exit_code, 4u) << run.err;
    EXPECT_EQ(reported(run.out, "file").size(), 5u);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(LauncherTest, AFrameWithoutAContentChecksumStillRuns) {
    const auto run = launch(unchecked_launcher(), {L"list", L"import", L"exit:5"});
    EXPECT_EQ(run.exit_code, 5u) << run.out << run.err;
    EXPECT_EQ(reported(run.out, "file").size(), 2u);
    EXPECT_EQ(reported(run.out, "dependency").size(), 1u);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(LauncherTest, TheExampleGreetsAndReadsItsDataFile) {
    const auto run = launch(hello_launcher(), {L"world"});
    EXPECT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_NE(run.out.find("Hello from kelvor-onefile!"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("argv[1] = world"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("read from greeting.txt"), std::string::npos) << run.out;
}

// A launcher whose bytes were changed after it was built.
std::wstring patched_copy(const std::wstring& launcher, const std::wstring& copy, size_t offset_after_header,
                          char value) {
    std::string image = read_file(launcher);
    const size_t block = image.find(std::string("KAY\x28\xb5\x2f\xfd", 7));
    if (block == std::string::npos) return L"";
    image[block + offset_after_header] = value;
    write_file(copy, image);
    return copy;
}

TEST_F(LauncherTest, ABlockThatDoesNotBeginWithKAYIsRefused) {
    const std::wstring launcher = patched_copy(probe_launcher(), scratch_ / L"bad-header.exe", 0, 'k');
    ASSERT_FALSE(launcher.empty());
    const auto run = launch(launcher, {L"exit:9"});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.out, "Error, couldn't find attached data header.\r\n");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(leftovers().empty()) << "nothing was unpacked";
}

TEST_F(LauncherTest, ADamagedFrameIsADecodeError) {
    const std::wstring launcher = patched_copy(probe_launcher(), scratch_ / L"bad-frame.exe", 3, 'x');
    ASSERT_FALSE(launcher.empty());
    const auto run = launch(launcher, {L"exit:9"});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.out, "Error, couldn't decode attached data.\r\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(LauncherTest, AFirstEntryThatIsNoDllFailsToLoad) {
    const auto run = launch(not_a_dll_launcher(), {});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Error, load DLL. ([Error 193] " + system_text(ERROR_BAD_EXE_FORMAT) + ")\r\n");
    EXPECT_TRUE(leftovers().empty()) << "the parent still removes the directory";
}

TEST_F(LauncherTest, ADllWithoutRunCodeIsRefused) {
    const auto run = launch(no_run_code_launcher(), {});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.out, "Error, DLL entry point not found.\r\n");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(leftovers().empty());
}

}  // namespace
}  // namespace kelvor::testing
