/* The outside project's command-line program, in C: an ordinary program that reads the file
 * that ships beside it, found from its own module's path (argv[0] is the name it was run by),
 * and counts its arguments. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    (void)argv;
    char path[1024];
    const DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
    if (length == 0 || length >= sizeof path) return 1;
    char* name = strrchr(path, '\\');
    if (name == NULL) return 1;
    snprintf(name + 1, sizeof path - (size_t)(name + 1 - path), "note.txt");
    FILE* note = fopen(path, "rb");
    if (note == NULL) return 1;
    char line[256] = "";
    fgets(line, sizeof line, note);
    fclose(note);
    printf("outside tool with %d arguments: %s", argc - 1, line);
    return 43;
}
