// The one way the tool fails: a ToolError carries the message that main() prints on stderr.
// A UsageError is a mistake on the command line (exit code 2); every other failure is a
// ToolError (exit code 1).
#pragma once

#include <stdexcept>
#include <string>

namespace kelvor {

class ToolError : public std::runtime_error {
public:
    explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};

class UsageError : public ToolError {
public:
    explicit UsageError(const std::string& message) : ToolError(message) {}
};

}  // namespace kelvor
