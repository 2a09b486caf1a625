#include "launcher_runs.h"

namespace kelvor::testing {

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

std::vector<std::string> reported(const std::string& out, const std::string& word) {
    std::vector<std::string> values;
    for (const auto& line : lines_of(out)) {
        if (line.rfind(word + " ", 0) == 0) values.push_back(line.substr(word.size() + 1));
        if (line == word) values.emplace_back();
    }
    return values;
}

namespace {

std::wstring from_hex_units(const std::string& hex) {
    std::wstring text;
    for (size_t at = 0; at + 4 <= hex.size(); at += 5) text.push_back(static_cast<wchar_t>(std::stoul(hex.substr(at, 4), nullptr, 16)));
    return text;
}

}  // namespace

std::vector<std::wstring> reported_arguments(const std::string& out) {
    std::vector<std::wstring> arguments;
    for (const auto& value : reported(out, "arg")) {
        const size_t space = value.find(' ');
        arguments.push_back(space == std::string::npos ? L"" : from_hex_units(value.substr(space + 1)));
    }
    return arguments;
}

std::string system_text(DWORD code) {
    char* text = nullptr;
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       nullptr, code, 0x0409, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result = length ? std::string(text, length) : std::string();
    LocalFree(text);
    while (!result.empty() && (result.back() == '\r' || result.back() == '\n')) result.pop_back();
    return result;
}

void LauncherTest::SetUp() { CreateDirectoryW(temp_.c_str(), nullptr); }

ProcessOptions LauncherTest::launch_options(const std::wstring& launcher, const std::vector<std::wstring>& arguments,
                                            std::map<std::wstring, std::wstring> environment,
                                            const std::wstring& cwd) const {
    ProcessOptions options;
    options.application = launcher;
    options.command_line = quote_argument(launcher);
    for (const auto& argument : arguments) options.command_line += L" " + quote_argument(argument);
    environment.emplace(L"TMP", temp_);
    environment.emplace(L"TEMP", temp_);
    options.environment_changes = std::move(environment);
    options.current_directory = cwd;
    return options;
}

ProcessResult LauncherTest::launch(const std::wstring& launcher, const std::vector<std::wstring>& arguments,
                                   std::map<std::wstring, std::wstring> environment, const std::wstring& cwd) const {
    return launch_with(launch_options(launcher, arguments, std::move(environment), cwd));
}

ProcessResult LauncherTest::launch_with(ProcessOptions options) const {
    options.environment_changes.emplace(L"TMP", temp_);
    options.environment_changes.emplace(L"TEMP", temp_);
    ProcessResult result = run_process(options);
    EXPECT_FALSE(result.timed_out) << "the launcher did not end";
    return result;
}

std::vector<std::wstring> LauncherTest::leftovers() const {
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

std::wstring LauncherTest::copy_launcher(const std::wstring& launcher, const std::wstring& directory,
                                         const std::wstring& name) const {
    CreateDirectoryW(directory.c_str(), nullptr);
    const std::wstring copy = directory + L"\\" + name;
    EXPECT_TRUE(CopyFileW(launcher.c_str(), copy.c_str(), FALSE));
    return copy;
}

}  // namespace kelvor::testing
