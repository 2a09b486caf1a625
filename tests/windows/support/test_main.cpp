// main() of every Windows test program: GoogleTest takes its own flags, the rest are the
// program's arguments (paths that the build passes in).
//
// The whole run works in one temporary directory of its own, removed at the end: scratch
// directories, the launchers' target directories and whatever a death test's child process
// leaves (it ends without running destructors) all land below it.
#include <gtest/gtest.h>

#include "test_arguments.h"
#include "windows_test_support.h"

namespace {

constexpr wchar_t kRootVariable[] = L"KELVOR_TEST_TEMP_ROOT";

class TemporaryRoot {
public:
    TemporaryRoot() {
        wchar_t inherited[MAX_PATH];
        // A death test's child shares its parent's root and leaves it to the parent.
        if (GetEnvironmentVariableW(kRootVariable, inherited, MAX_PATH) != 0) return;
        wchar_t temp[MAX_PATH + 1];
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        path_ = std::wstring(temp, length) + L"kelvor-tests-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path_.c_str(), nullptr);
        for (const wchar_t* name : {kRootVariable, L"TMP", L"TEMP"}) SetEnvironmentVariableW(name, path_.c_str());
    }
    ~TemporaryRoot() {
        if (!path_.empty()) kelvor::testing::remove_tree(path_);
    }

private:
    std::wstring path_;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    kelvor::testing::set_test_arguments(argc, argv);
    TemporaryRoot root;
    return RUN_ALL_TESTS();
}
