#include "command_line/process_start.h"

bool start_with_standard_handles(const wchar_t* application, wchar_t* command_line, DWORD flags,
                                 PROCESS_INFORMATION* process, void* environment) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    *process = PROCESS_INFORMATION{};
    return CreateProcessW(application, command_line, nullptr, nullptr, TRUE, flags, environment, nullptr, &startup,
                          process) != FALSE;
}
