// The launcher end to end: real executables started as a user starts them, checked by what a
// user sees (the output, the exit code, the files on disk) and by what the probe application
// reports from inside the run.
#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <set>

#include "test_arguments.h"
#include "windows_test_support.h"

namespace kelvor::testing {
namespace {

// The executables the build made, in the order the build passes them.
const std::wstring& probe_launcher() { return test_arguments().at(0); }
const std::wstring& reference_launcher() { return test_arguments().at(1); }
const std::wstring& not_a_dll_launcher() { return test_arguments().at(2); }
const std::wstring& no_run_code_launcher() { return test_arguments().at(3); }
const std::wstring& planted_dependency() { return test_arguments().at(4); }
const std::wstring& hello_launcher() { return test_arguments().at(5); }

std::wstring windows_path(std::wstring path) {
    for (auto& c : path) c = c == L'/' ? L'\\' : c;
    return path;
}

std::vector<std::string> lines_of(const std::string& out) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < out.size();) {
        const size_t end = out.find("\r\n", start);
        lines.push_back(out.substr(start, end - start));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return lines;
}

// The values of the probe's lines that begin with the word.
std::vector<std::string> reported(const std::string& out, const std::string& word) {
    std::vector<std::string> values;
    for (const auto& l : lines_of(out)) {
        if (l.rfind(word + " ", 0) == 0) values.push_back(l.substr(word.size() + 1));
    }
    return values;
}

std::wstring from_hex_units(const std::string& hex) {
    std::wstring text;
    for (size_t at = 0; at + 4 <= hex.size(); at += 5) text.push_back(static_cast<wchar_t>(std::stoul(hex.substr(at, 4), nullptr, 16)));
    return text;
}

// The arguments run_code received, from the probe's "args" report.
std::vector<std::wstring> reported_arguments(const std::string& out) {
    std::vector<std::wstring> arguments;
    for (const auto& value : reported(out, "arg")) {
        const size_t space = value.find(' ');
        arguments.push_back(space == std::string::npos ? L"" : from_hex_units(value.substr(space + 1)));
    }
    return arguments;
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override { CreateDirectoryW(temp_.c_str(), nullptr); }

    // Starts a launcher with these arguments (quoted so that they split back unchanged) and
    // its own temporary-files directory.
    ProcessResult launch(const std::wstring& launcher, const std::vector<std::wstring>& arguments,
                         std::map<std::wstring, std::wstring> environment = {}, const std::wstring& cwd = L"") {
        ProcessOptions options;
        options.application = launcher;
        options.command_line = quote_argument(launcher);
        for (const auto& argument : arguments) options.command_line += L" " + quote_argument(argument);
        return launch_with(options, std::move(environment), cwd);
    }
    ProcessResult launch_with(ProcessOptions options, std::map<std::wstring, std::wstring> environment,
                              const std::wstring& cwd = L"") {
        environment.emplace(L"TMP", temp_);
        environment.emplace(L"TEMP", temp_);
        options.environment_changes = environment;
        options.current_directory = cwd;
        ProcessResult result = run_process(options);
        EXPECT_FALSE(result.timed_out) << "the launcher did not end";
        return result;
    }
    // What the runs left in their temporary-files directory.
    std::vector<std::wstring> leftovers() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((temp_ + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) names.push_back(found.cFileName);
        } while (FindNextFileW(search, &found));
        FindClose(search);
        return names;
    }
    // A copy of a launcher in a directory of the test's own.
    std::wstring copy_launcher(const std::wstring& launcher, const std::wstring& directory, const std::wstring& name) {
        CreateDirectoryW(directory.c_str(), nullptr);
        const std::wstring copy = directory + L"\\" + name;
        EXPECT_TRUE(CopyFileW(launcher.c_str(), copy.c_str(), FALSE));
        return copy;
    }

    ScratchDirectory scratch_;
    const std::wstring temp_ = scratch_ / L"temp";
};

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
    const auto run = launch_with(options, {}, bin);
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    const auto arguments = reported_arguments(run.out);
    ASSERT_FALSE(arguments.empty());
    EXPECT_EQ(arguments[0], bin + L"\\probe.exe");
    const auto env = reported(run.out, "env");
    ASSERT_EQ(env.size(), 2u);
    EXPECT_EQ(env[0], "KELVOR_ORIGINAL_ARGV0=probe") << "the form that was typed";
    EXPECT_EQ(env[1], "KELVOR_ONEFILE_DIRECTORY=" + narrow(bin)) << "the launcher's own directory";
}

TEST_F(LauncherTest, AChildCommandLineBeyond32768CharactersAborts) {
    // Argument 0 grows from "p" to the full path, which takes the child's line past the limit.
    const std::wstring bin = scratch_ / L"bin";
    copy_launcher(probe_launcher(), bin, L"p.exe");
    ProcessOptions options;
    options.application = bin + L"\\p.exe";
    options.command_line = L"p";
    while (options.command_line.size() < 32700) options.command_line += L" " + std::wstring(99, L'x');
    const auto run = launch_with(options, {});
    EXPECT_EQ(run.exit_code, 3u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
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
    const auto run = launch(reference_launcher(), {L"list", L"exit:4"});
    EXPECT_EQ(run.exit_code, 4u) << run.err;
    EXPECT_EQ(reported(run.out, "file").size(), 5u);
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
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                   ERROR_BAD_EXE_FORMAT, 0x0409, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string system_text = text ? text : "";
    LocalFree(text);
    while (!system_text.empty() && (system_text.back() == '\n' || system_text.back() == '\r')) system_text.pop_back();
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Error, load DLL. ([Error 193] " + system_text + ")\r\n");
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
