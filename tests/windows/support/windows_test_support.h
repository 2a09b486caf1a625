// Helpers for the Windows test programs: text conversion, scratch directories that are
// removed afterwards, files, child processes with captured output, and the data directory
// that the build fills for the tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "windows_argument_quoting.h"

namespace kelvor::testing {

std::wstring widen(const std::string& utf8);
std::string narrow(const std::wstring& wide);

// The directory that the build prepared for the tests (KELVOR_TEST_DATA_DIR), and a path in it.
std::wstring test_data_path(const std::wstring& name);

// A fresh directory under the temporary-files directory, removed with everything in it at the end.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

private:
    std::wstring path_;
};

void remove_tree(const std::wstring& path);
bool path_exists(const std::wstring& path);
bool is_directory(const std::wstring& path);
std::string read_file(const std::wstring& path);
void write_file(const std::wstring& path, const std::string& contents);  // creates parent directories
// Every regular file below root, by path relative to root (backslashes), with its contents.
std::map<std::wstring, std::string> read_tree(const std::wstring& root);

struct ProcessResult {
    DWORD process_id = 0;
    DWORD exit_code = 0;
    bool timed_out = false;
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::wstring application;              // empty: taken from the command line
    std::wstring command_line;
    std::map<std::wstring, std::wstring> environment_changes;  // an empty value removes the variable
    std::wstring current_directory;        // empty: this process's
    DWORD timeout_ms = 60000;
};

// A process started with stdout and stderr captured separately, into files of its own.
class RunningProcess {
public:
    explicit RunningProcess(const ProcessOptions& options);  // throws when it cannot start
    ~RunningProcess();
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;

    DWORD id() const { return id_; }
    HANDLE handle() const { return process_; }
    std::string output_so_far() const;
    // Waits; a process that outlives the timeout is terminated and reported as timed out.
    ProcessResult wait(DWORD timeout_ms);

private:
    ScratchDirectory streams_;
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Starts a process and waits for it (see RunningProcess).
ProcessResult run_process(const ProcessOptions& options);

// Starts a process with pipes for its standard streams, as a shell connects a pipeline: writes
// input to its standard input and closes it, and reads its output and error streams while it
// runs. Waits as RunningProcess::wait does; throws when it cannot start.
ProcessResult run_through_pipes(const ProcessOptions& options, const std::string& input);

// Quotes one argument so that CommandLineToArgvW gives it back unchanged: the tool's own.
using kelvor::quote_argument;

// Empty when the two byte strings are equal; otherwise where and how they first differ, short
// enough to read (large payload contents would drown a plain comparison).
std::string first_difference(const std::string& actual, const std::string& expected);

// The names of the DLLs that a PE image imports, as its import table spells them.
std::vector<std::string> imported_dll_names(const std::wstring& image_path);

}  // namespace kelvor::testing
