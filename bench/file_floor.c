/* The platform's floor for the file work of a run: a plain Windows program that writes the files
 * of a manifest into a fresh folder in TEMP, as many bytes as each has, then removes them all,
 * with the calls any program makes for that (CreateDirectoryW, CreateFileW, WriteFile,
 * CloseHandle, DeleteFileW, RemoveDirectoryW) and nothing else: no decoding, no second process.
 * What a launcher run of the same files costs beyond it is the launcher's (and its decoder's).
 *
 *   file_floor MANIFEST    lines "SIZE RELATIVE\PATH", directories before what they hold
 *
 * Exit code 1 when a call fails, 2 on bad usage. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

enum { path_capacity = 4096, max_directories = 65536, max_files = 1 << 20, piece = 1 << 16 };

static wchar_t root[path_capacity];
static wchar_t* directories[max_directories];
static int directory_count;
static wchar_t* files[max_files];
static int file_count;
static unsigned char data[piece];

static int fail(const char* what) {
    fprintf(stderr, "file_floor: %s failed (%lu)\n", what, GetLastError());
    return 1;
}

/* Every folder on the way to path below the root, made once, in order. */
static int make_parents(const wchar_t* path) {
    wchar_t parent[path_capacity];
    for (const wchar_t* at = wcschr(path + wcslen(root) + 1, L'\\'); at != NULL; at = wcschr(at + 1, L'\\')) {
        const size_t length = (size_t)(at - path);
        wmemcpy(parent, path, length);
        parent[length] = L'\0';
        int known = 0;
        for (int i = directory_count - 1; i >= 0 && !known; --i) known = wcscmp(directories[i], parent) == 0;
        if (known) continue;
        if (!CreateDirectoryW(parent, NULL) || directory_count == max_directories) return fail("CreateDirectoryW");
        directories[directory_count++] = _wcsdup(parent);
    }
    return 0;
}

static int write_file(const wchar_t* path, unsigned long long size) {
    if (make_parents(path) != 0) return 1;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return fail("CreateFileW");
    while (size > 0) {
        const DWORD count = size < piece ? (DWORD)size : piece;
        DWORD written = 0;
        if (!WriteFile(file, data, count, &written, NULL) || written != count) return fail("WriteFile");
        size -= count;
    }
    CloseHandle(file);
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    FILE* manifest = _wfopen(argv[1], L"r");
    if (manifest == NULL) return 2;
    DWORD length = GetTempPathW(path_capacity - 64, root);
    if (length == 0) return fail("GetTempPathW");
    swprintf(root + length, path_capacity - length, L"file-floor-%lu", GetCurrentProcessId());
    if (!CreateDirectoryW(root, NULL)) return fail("CreateDirectoryW");

    unsigned long long size = 0;
    char name[path_capacity];
    while (fscanf(manifest, "%llu %4095[^\n]", &size, name) == 2 && file_count < max_files) {
        wchar_t path[path_capacity];
        swprintf(path, path_capacity, L"%ls\\%hs", root, name);
        if (write_file(path, size) != 0) return 1;
        files[file_count++] = _wcsdup(path);
    }
    fclose(manifest);
    for (int i = 0; i < file_count; ++i) {
        if (!DeleteFileW(files[i])) return fail("DeleteFileW");
    }
    for (int i = directory_count - 1; i >= 0; --i) {
        if (!RemoveDirectoryW(directories[i])) return fail("RemoveDirectoryW");
    }
    if (!RemoveDirectoryW(root)) return fail("RemoveDirectoryW");
    return 0;
}
