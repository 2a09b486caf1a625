#include "path_template_rules.h"

#include <cctype>

#include "text_encoding.h"
#include "tool_error.h"

namespace kelvor {

namespace {

const char* const kVariables[] = {"TEMP",    "PROGRAM", "PROGRAM_BASE", "PROGRAM_DIR",  "PID",
                                  "HOME",    "CACHE_DIR", "COMPANY",    "PRODUCT",      "VERSION",
                                  "FILE_VERSION", "PRODUCT_VERSION", "RANDOM", "TIME_US", "TIME"};

// Names are matched without regard to case, as the launcher does.
bool is_known_variable(const std::string& name) {
    std::string upper;
    for (const char c : name) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    for (const char* variable : kVariables) {
        if (upper == variable) return true;
    }
    return false;
}

}  // namespace

void check_path_template(const std::string& path_template) {
    const std::string shown = "path template '" + path_template + "'";
    if (!utf8_to_utf16(path_template)) throw ToolError(shown + " is not valid UTF-8");
    if (path_template.empty()) throw ToolError(shown + " is empty");
    bool in_name = false;
    std::string name;
    for (const char c : path_template) {
        if (c == '{') {
            // A second "{" restarts the name in the launcher, dropping the text before it.
            if (in_name) throw ToolError(shown + ": '{" + name + "' is never closed");
            in_name = true;
            name.clear();
        } else if (c == '}') {
            if (!in_name) throw ToolError(shown + ": '}' closes no '{'");
            if (name.empty()) throw ToolError(shown + ": '{}' names no variable");
            if (!is_known_variable(name)) throw ToolError(shown + ": unknown variable {" + name + "}");
            in_name = false;
        } else if (in_name) {
            name.push_back(c);
        }
    }
    if (in_name) throw ToolError(shown + ": '{" + name + "' is never closed");
}

}  // namespace kelvor
