// Running built launchers as a user does, each test with a temporary-files directory of its
// own, and reading back what the probe application reports.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "windows_test_support.h"

namespace kelvor::testing {

// The lines of a captured stream (the runtime writes CR LF).
std::vector<std::string> lines_of(const std::string& out);

// The values of the probe's lines that begin with the word.
std::vector<std::string> reported(const std::string& out, const std::string& word);

// The arguments reported as "arg I <UTF-16 units in hex>" lines (the probe's "args", the
// command-line program's "echo"), in order.
std::vector<std::wstring> reported_arguments(const std::string& out);

// The system's text for a Windows error code, without its line end.
std::string system_text(DWORD code);

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override;

    // The options for starting a launcher with these arguments, quoted so that they split
    // back unchanged, with this test's temporary-files directory.
    ProcessOptions launch_options(const std::wstring& launcher, const std::vector<std::wstring>& arguments,
                                  std::map<std::wstring, std::wstring> environment = {},
                                  const std::wstring& cwd = L"") const;
    ProcessResult launch(const std::wstring& launcher, const std::vector<std::wstring>& arguments,
                         std::map<std::wstring, std::wstring> environment = {}, const std::wstring& cwd = L"") const;
    ProcessResult launch_with(ProcessOptions options) const;

    // What the runs left in the temporary-files directory.
    std::vector<std::wstring> leftovers() const;
    // A copy of a launcher in a directory of the test's own.
    std::wstring copy_launcher(const std::wstring& launcher, const std::wstring& directory,
                               const std::wstring& name) const;

    ScratchDirectory scratch_;
    std::wstring temp_ = scratch_ / L"temp";
};

}  // namespace kelvor::testing
