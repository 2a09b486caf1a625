/* The outside project's application, in C: reads the file that ships beside it. */
#include <stdio.h>
#include <wchar.h>

__declspec(dllexport) int run_code(int argc, wchar_t** argv, const wchar_t* dll_path) {
    (void)argc;
    (void)argv;
    wchar_t path[1024];
    swprintf(path, 1024, L"%ls", dll_path);
    wchar_t* name = wcsrchr(path, L'\\');
    if (name == NULL) return 1;
    wcscpy(name + 1, L"note.txt");
    FILE* note = _wfopen(path, L"rb");
    if (note == NULL) return 1;
    char line[256] = "";
    fgets(line, sizeof line, note);
    fclose(note);
    printf("outside: %s", line);
    return 41;
}
