/* An ordinary command-line program, the kind "kelvor-onefile build --console --exe" packs. The
 * tests run it directly and packed, and compare what each one does. Its first argument says what
 * it does:
 *
 *   echo CODE ...    every argument from the first on as "arg I <UTF-16 units in hex>", then
 *                    exits with CODE
 *   name             its argument 0 as "arg 0 <UTF-16 units in hex>"
 *   env NAME ...     each variable as "env NAME=value", or "env NAME unset"
 *   nested ARG ...   starts itself with the arguments (quoted simply: none may hold a quote),
 *                    waits and exits with its code
 *   leave            starts itself with "wait", reports "child N" and exits at once
 *   crash            writes through a null pointer
 *   copy CODE        copies standard input to standard output byte for byte, then exits with CODE
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

static void print_units(const char* label, int index, const wchar_t* text) {
    printf("%s %d", label, index);
    for (const wchar_t* unit = text; *unit; ++unit) printf(" %04x", (unsigned)*unit);
    printf("\r\n");
}

static int echo(int argc, wchar_t** argv) {
    for (int i = 1; i < argc; ++i) print_units("arg", i, argv[i]);
    fflush(stdout);
    return chosen_code;
}

static int env(int argc, wchar_t** argv) {
    static wchar_t value[32768];
    for (int i = 2; i < argc; ++i) {
        if (GetEnvironmentVariableW(argv[i], value, 32768) == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
            printf("env %ls unset\r\n", argv[i]);
        } else {
            printf("env %ls=%ls\r\n", argv[i], value);
        }
    }
    fflush(stdout);
    return 0;
}

/* Starts this program again with the given arguments after its own quoted path. */
static int start_self(int first, int argc, wchar_t** argv, PROCESS_INFORMATION* process) {
    static wchar_t self[MAX_PATH], command_line[32768];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    int length = swprintf(command_line, 32768, L"\"%ls\"", self);
    for (int i = first; i < argc && length > 0; ++i) {
        length += swprintf(command_line + length, 32768 - length, L" \"%ls\"", argv[i]);
    }
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    return CreateProcessW(self, command_line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, process) ? 0 : 1;
}

static int nested(int argc, wchar_t** argv) {
    PROCESS_INFORMATION process;
    if (start_self(2, argc, argv, &process) != 0) return 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return (int)code;
}

static int leave(void) {
    wchar_t* arguments[] = {L"wait"};
    PROCESS_INFORMATION process;
    if (start_self(0, 1, arguments, &process) != 0) return 1;
    report("child %lu\r\n", process.dwProcessId);
    return 0;
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
    if (argc > 2) chosen_code = (int)wcstoul(argv[2], NULL, 0);
    if (wcscmp(argv[1], L"echo") == 0) return echo(argc, argv);
    if (wcscmp(argv[1], L"copy") == 0) return copy();
    if (wcscmp(argv[1], L"name") == 0) {
        print_units("arg", 0, argv[0]);
        fflush(stdout);
        return 0;
    }
    if (wcscmp(argv[1], L"env") == 0) return env(argc, argv);
    if (wcscmp(argv[1], L"nested") == 0) return nested(argc, argv);
    if (wcscmp(argv[1], L"leave") == 0) return leave();
    if (wcscmp(argv[1], L"crash") == 0) {
        *(volatile int*)NULL = 1;
        return 1;
    }
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
