// The launcher's path helpers against real files, and its own file name as a started process
// sees it.
#include <gtest/gtest.h>

#include <windows.h>

#include "expect_aborts.h"
#include "files/file_helpers.h"
#include "path_template/launcher_paths.h"
#include "test_arguments.h"
#include "windows_test_support.h"

namespace kelvor::testing {
namespace {

std::wstring resolved(const std::wstring& input, size_t capacity = 4096) {
    std::wstring output(capacity + 1, L'#');
    resolve_final_path(output.data(), input.c_str(), capacity, true);
    return output.c_str();
}

std::wstring short_form(const std::wstring& path) {
    wchar_t buffer[4096];
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, 4096);
    return length ? std::wstring(buffer, length) : path;
}

std::wstring upper(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(towupper(c));
    return text;
}

TEST(ResolveFinalPath, GivesTheFileSystemsSpellingWithoutTheLongPathPrefix) {
    ScratchDirectory scratch;
    write_file(scratch / L"Mixed Case.txt", "x");
    const std::wstring expected = resolved(scratch / L"Mixed Case.txt");
    EXPECT_EQ(expected.rfind(L"\\\\?\\", 0), std::wstring::npos) << narrow(expected);
    EXPECT_EQ(expected.substr(expected.size() - 15), L"\\Mixed Case.txt");
    EXPECT_EQ(resolved(upper(scratch / L"Mixed Case.txt")), expected);
    EXPECT_EQ(resolved(L"\\\\?\\" + scratch / L"Mixed Case.txt"), expected);
}

TEST(ResolveFinalPath, LeavesWhatCannotBeOpenedAsItIs) {
    ScratchDirectory scratch;
    const std::wstring directory = upper(scratch.path());
    EXPECT_EQ(resolved(directory), directory);
    const std::wstring missing = scratch / L"NOT-THERE.TXT";
    EXPECT_EQ(resolved(missing), missing);
    EXPECT_EQ(resolved(L"\\\\?\\UNC\\nowhere\\share\\file"), L"\\\\?\\UNC\\nowhere\\share\\file");
}

TEST(ResolveFinalPath, WithoutTheFlagIsABoundedCopy) {
    wchar_t output[13] = L"";
    resolve_final_path(output, L"C:\\ANY\\Thing", 12, false);  // 12 characters
    EXPECT_STREQ(output, L"C:\\ANY\\Thing");
    EXPECT_ABORTS(resolve_final_path(output, L"C:\\ANY\\Things", 12, false));
}

TEST(ResolveFinalPath, ANameThatDoesNotFitAborts) {
    ScratchDirectory scratch;
    write_file(scratch / L"file.txt", "x");
    const std::wstring input = scratch / L"file.txt";
    // The input itself fits; the final name (at least as long) is asked with no spare room.
    EXPECT_ABORTS(resolved(input, input.size()));
}

TEST(ShortenDirectoryPart, ShortensTheDirectoryAndKeepsTheLastComponent) {
    ScratchDirectory scratch;
    const std::wstring directory = scratch / L"Program Files With Spaces";
    CreateDirectoryW(directory.c_str(), nullptr);
    ASSERT_NE(short_form(directory), directory) << "the file system gives no short names";
    std::wstring path = directory + L"\\Launcher With Long Name.exe";
    path.resize(4096);
    shorten_directory_part(path.data(), 4095);
    EXPECT_EQ(std::wstring(path.c_str()), short_form(directory) + L"\\Launcher With Long Name.exe");
}

TEST(ShortenDirectoryPart, LeavesAMissingDirectoryAndKeepsTrailingBackslashes) {
    const struct {
        const wchar_t* input;
        const wchar_t* output;
    } cases[] = {
        {L"C:\\no such dir\\at all\\file name.exe", L"C:\\no such dir\\at all\\file name.exe"},
        {L"C:\\no such dir\\", L"C:\\no such dir\\"},
        {L"no-backslash-missing.exe", L"no-backslash-missing.exe"},
    };
    for (const auto& c : cases) {
        wchar_t path[4097];
        wcscpy(path, c.input);
        shorten_directory_part(path, 4096);
        EXPECT_STREQ(path, c.output);
    }
}

TEST(DirectoryOf, CutsAtTheLastBackslash) {
    EXPECT_STREQ(get_directory_of(L"C:\\a b\\c\\launcher.exe"), L"C:\\a b\\c");
    EXPECT_STREQ(get_directory_of(L"launcher.exe"), L"launcher.exe");
    EXPECT_STREQ(get_directory_of(L"C:\\dir\\"), L"C:\\dir");
}

TEST(MakeAbsolutePath, ResolvesAgainstTheCurrentDirectory) {
    ScratchDirectory scratch;
    wchar_t saved[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, saved);
    SetCurrentDirectoryW(scratch.path().c_str());
    wchar_t path[4097] = L"rel\\target";
    make_absolute_path(path, 4096);
    SetCurrentDirectoryW(saved);
    EXPECT_EQ(std::wstring(path), scratch / L"rel\\target");
}

TEST(MakeAbsolutePath, AResultOfTheCapacityOrMoreAborts) {
    EXPECT_ABORTS({
        static wchar_t path[4097];
        wcscpy(path, L"C:\\");
        for (int i = 0; i < 4093; ++i) wcscat(path, L"x");  // 4,096 characters
        make_absolute_path(path, 4096);
    });
    EXPECT_ABORTS({
        wchar_t path[11] = L"relative";
        make_absolute_path(path, 10);
    });
}

TEST(WriteToFile, AShortWriteIsAFailureWithTheDiskFullCode) {
    // A non-blocking pipe with a small buffer takes part of a large write and reports success
    // for the part: a real short write.
    const std::wstring name = L"\\\\.\\pipe\\kelvor-short-write-" + std::to_wstring(GetCurrentProcessId());
    HANDLE server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_NOWAIT, 1, 64, 64,
                                     0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    HANDLE client = CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    static char data[1 << 20];
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(server, data, 1, &written, nullptr));  // the pipe works
    SetLastError(0);
    EXPECT_FALSE(write_to_file(server, data, sizeof data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    CloseHandle(client);
    CloseHandle(server);
}

TEST(WriteToFile, FullWritesSucceed) {
    ScratchDirectory scratch;
    HANDLE file = open_file_for_writing((scratch / L"out.bin").c_str());
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(write_to_file(file, "abc", 3));
    EXPECT_TRUE(close_file(file));
    EXPECT_EQ(read_file(scratch / L"out.bin"), "abc");
    // Opening again replaces the old contents.
    file = open_file_for_writing((scratch / L"out.bin").c_str());
    close_file(file);
    EXPECT_EQ(read_file(scratch / L"out.bin"), "");
}

// A copy of the scenario program in a directory with a long name, started by its long path
// and by its short path.
TEST(LauncherFileName, IsTheSameWhetherStartedByTheLongOrTheShortName) {
    ScratchDirectory scratch;
    const std::wstring directory = scratch / L"A Directory With A Long Name";
    CreateDirectoryW(directory.c_str(), nullptr);
    const std::wstring long_path = directory + L"\\Scenario Program.exe";
    ASSERT_TRUE(CopyFileW(test_arguments().at(0).c_str(), long_path.c_str(), FALSE));
    const std::wstring short_path = short_form(long_path);
    ASSERT_NE(short_path, long_path);

    auto names = [](const std::wstring& program) {
        ProcessOptions options;
        options.application = program;
        options.command_line = quote_argument(program) + L" launcher-names";
        const ProcessResult run = run_process(options);
        EXPECT_EQ(run.exit_code, 0u) << run.err;
        const size_t line_end = run.out.find("\r\n");
        return std::make_pair(run.out.substr(0, line_end), run.out.substr(line_end + 2));
    };
    const auto [long_resolved, long_unresolved] = names(long_path);
    const auto [short_resolved, short_unresolved] = names(short_path);
    EXPECT_EQ(long_resolved, short_resolved);
    EXPECT_NE(long_resolved.find("\\Scenario Program.exe"), std::string::npos) << long_resolved;
    EXPECT_EQ(long_unresolved, narrow(long_path) + "\r\n");
}

}  // namespace
}  // namespace kelvor::testing
