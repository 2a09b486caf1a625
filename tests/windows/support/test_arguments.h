// The arguments a test program was started with, after GoogleTest's own flags.
#pragma once

#include <string>
#include <vector>

namespace kelvor::testing {

void set_test_arguments(int argc, char** argv);
const std::vector<std::wstring>& test_arguments();

}  // namespace kelvor::testing
