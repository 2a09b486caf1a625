// The example application. The launcher unpacks it with its files and calls run_code with
// the command line's arguments and the DLL's own path; what run_code returns is the exit
// code of the whole executable.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

namespace {

// Prints wide text as UTF-8, whatever the console's code page.
void print_utf8(const wchar_t* text) {
    char utf8[4096];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr) > 0) fputs(utf8, stdout);
}

}  // namespace

extern "C" __declspec(dllexport) int run_code(int argc, wchar_t** argv, const wchar_t* dll_path) {
    printf("Hello from kelvor-onefile!\n");
    printf("run_code got %d arguments:\n", argc);
    for (int i = 0; i < argc; ++i) {
        printf("  argv[%d] = ", i);
        print_utf8(argv[i]);
        printf("\n");
    }
    printf("the application DLL runs from ");
    print_utf8(dll_path);
    printf("\n");

    // The data file ships beside the DLL: its path is the DLL's directory and its name.
    wchar_t data_path[MAX_PATH];
    wcsncpy(data_path, dll_path, MAX_PATH - 1);
    data_path[MAX_PATH - 1] = L'\0';
    wchar_t* name = wcsrchr(data_path, L'\\');
    if (name == nullptr || name - data_path + 14 >= MAX_PATH) return 1;
    wcscpy(name + 1, L"greeting.txt");

    FILE* greeting = _wfopen(data_path, L"rb");
    if (greeting == nullptr) {
        fprintf(stderr, "greeting.txt is missing beside the DLL\n");
        return 1;
    }
    char line[512];
    while (fgets(line, sizeof line, greeting)) fputs(line, stdout);
    fclose(greeting);
    fflush(stdout);
    return 0;
}
