// The outside project's application: reads the file that ships beside it.
#include <stdio.h>
#include <wchar.h>

extern "C" __declspec(dllexport) int run_code(int, wchar_t**, const wchar_t* dll_path) {
    wchar_t path[1024];
    swprintf(path, 1024, L"%ls", dll_path);
    wchar_t* name = wcsrchr(path, L'\\');
    if (name == nullptr) return 1;
    wcscpy(name + 1, L"note.txt");
    FILE* note = _wfopen(path, L"rb");
    if (note == nullptr) return 1;
    char line[256] = "";
    fgets(line, sizeof line, note);
    fclose(note);
    printf("outside: %s", line);
    return 41;
}
