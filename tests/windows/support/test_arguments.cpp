#include "test_arguments.h"

#include "windows_test_support.h"

namespace kelvor::testing {

namespace {

std::vector<std::wstring>& arguments() {
    static std::vector<std::wstring> list;
    return list;
}

}  // namespace

void set_test_arguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) arguments().push_back(widen(argv[i]));
}

const std::vector<std::wstring>& test_arguments() { return arguments(); }

}  // namespace kelvor::testing
