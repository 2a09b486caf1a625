// The reason a Windows call failed, in the words the tool uses on POSIX: the errors that both
// systems have are named as the C library names them ("No such file or directory"), so that a
// message reads the same on both; any other is the system's own text and number.
#pragma once

#include <string>

namespace kelvor {

// For the value GetLastError() gave right after the call that failed.
std::string windows_error_text(unsigned long error);

}  // namespace kelvor
