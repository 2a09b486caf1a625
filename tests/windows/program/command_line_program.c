/* An ordinary command-line program, the kind "kelvor-onefile build --console --exe" packs. The
 * tests run it directly and packed, and compare what each one does. Its first argument says what
 * it does:
 *
 *   echo CODE ...    every argument from the first on as "arg I <UTF-16 units in hex>", then
 *                    exits with CODE
 *   copy CODE        copies standard input to standard output byte for byte, then exits with CODE
 *   spawn            starts itself with "wait", reports "pid N" (its own) and "child N", then
 *                    waits for that process
 *   wait             reports "pid N" and sleeps for a minute
 *   interrupt CODE   reports "waiting in <its own path>" and sleeps for a minute; Ctrl-C or
 *                    Ctrl-Break make it report "interrupted N" (the event) and exit with CODE
 *                    a second later
 *
 * Standard output is binary: copied bytes stay as they are, and report lines end in CR LF, as
 * the probe application's do.
 */
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static int chosen_code = 0;

static void report(const char* format, unsigned long value) {
    printf(format, value);
    fflush(stdout);
}

static int echo(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) {
        printf("arg %d", i);
        for (const wchar_t* unit = argv[i]; *unit; ++unit) printf(" %04x", (unsigned)*unit);
        printf("\r\n");
    }
    fflush(stdout);
    return chosen_code;
}

static int copy(void) {
    static char piece[65536];
    size_t count;
    while ((count = fread(piece, 1, sizeof piece, stdin)) > 0) {
        if (fwrite(piece, 1, count, stdout) != count) return 1;
    }
    fflush(stdout);
    return ferror(stdin) ? 1 : chosen_code;
}

static int spawn(void) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    wchar_t command_line[MAX_PATH + 16];
    swprintf(command_line, MAX_PATH + 16, L"\"%ls\" wait", self);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (!CreateProcessW(self, command_line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) return 1;
    report("pid %lu\r\n", GetCurrentProcessId());
    report("child %lu\r\n", process.dwProcessId);
    WaitForSingleObject(process.hProcess, INFINITE);
    return 0;
}

/* Takes its time, as a program that saves its work before it ends. */
static BOOL WINAPI end_on_interruption(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    report("interrupted %lu\r\n", event);
    Sleep(1000);
    ExitProcess((UINT)chosen_code);
}

static void sleep_a_minute(void) { Sleep(60000); }

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) return 2;
    if (argc > 2) chosen_code = (int)wcstol(argv[2], NULL, 10);
    if (wcscmp(argv[1], L"echo") == 0) return echo(argc, argv);
    if (wcscmp(argv[1], L"copy") == 0) return copy();
    if (wcscmp(argv[1], L"spawn") == 0) return spawn();
    if (wcscmp(argv[1], L"wait") == 0) {
        report("pid %lu\r\n", GetCurrentProcessId());
        sleep_a_minute();
        return 0;
    }
    if (wcscmp(argv[1], L"interrupt") == 0) {
        SetConsoleCtrlHandler(end_on_interruption, TRUE);
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(NULL, self, MAX_PATH);
        printf("waiting in %ls\r\n", self);
        fflush(stdout);
        sleep_a_minute();
        return 0;
    }
    return 2;
}
