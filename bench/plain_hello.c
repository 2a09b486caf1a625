/* The plain program that the start-up benchmark compares the launcher with, built with the
 * same C runtime (UCRT) and subsystem (GUI) as the launcher, so that the difference is the
 * launcher's own work.
 *
 *   plain_hello           writes a line and exits: one process
 *   plain_hello --twice   starts itself once more, the way the launcher starts its child
 *                         (inheriting handles), waits for it and exits with its exit code:
 *                         the least that any two-process design costs
 *
 * It imports kernel32 and the C runtime only. */
#include <windows.h>

#include <stdio.h>
#include <string.h>

static int run_twice(void) {
    wchar_t own_path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, own_path, MAX_PATH);
    if (length == 0 || length == MAX_PATH) return 1;
    wchar_t command_line[MAX_PATH + 4];
    _snwprintf(command_line, MAX_PATH + 4, L"\"%ls\"", own_path);
    command_line[MAX_PATH + 3] = L'\0';

    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {0};
    if (!CreateProcessW(own_path, command_line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) return 1;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hProcess);
    return (int)exit_code;
}

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "--twice") == 0) return run_twice();
    fputs("hello\n", stdout);
    return 0;
}
