// The example application. The launcher unpacks it with its files and calls run_code with
// the command line's arguments and the DLL's own path; what run_code returns is the exit
// code of the whole executable.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::string to_utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? static_cast<size_t>(size - 1) : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
    return utf8;
}

// The data file ships beside the DLL, so its path is the DLL's directory and its name.
std::wstring beside(const wchar_t* dll_path, const wchar_t* name) {
    std::wstring path = dll_path;
    path.erase(path.find_last_of(L'\\') + 1);
    return path + name;
}

}  // namespace

extern "C" __declspec(dllexport) int run_code(int argc, wchar_t** argv, const wchar_t* dll_path) {
    std::printf("Hello from kelvor-onefile!\n");
    std::printf("run_code got %d arguments:\n", argc);
    for (int i = 0; i < argc; ++i) std::printf("  argv[%d] = %s\n", i, to_utf8(argv[i]).c_str());
    std::printf("the application DLL runs from %s\n", to_utf8(dll_path).c_str());

    FILE* greeting = _wfopen(beside(dll_path, L"greeting.txt").c_str(), L"rb");
    if (!greeting) {
        std::fprintf(stderr, "greeting.txt is missing beside the DLL\n");
        return 1;
    }
    char line[512];
    while (std::fgets(line, sizeof line, greeting)) std::fputs(line, stdout);
    std::fclose(greeting);
    std::fflush(stdout);
    return 0;
}
