#include "path_template_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "paths/path_template_variables.h"
#include "text_encoding.h"
#include "tool_error.h"

namespace kelvor {

namespace {

using path_template_language::ValueKind;

std::string upper_case(const std::string& text) {
    std::string upper;
    for (const char c : text) upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return upper;
}

// Names are matched without regard to case, as the launcher does.
const ValueKind* variable_value(const std::string& name) {
    const std::string upper = upper_case(name);
    for (const auto& variable : path_template_language::variables) {
        if (upper == variable.name) return &variable.kind;
    }
    return nullptr;
}

// One piece of a folder name: literal text (fixed values included), or a variable known only
// at run time.
struct Piece {
    std::string text;  // the literal text, or the variable's name as written
    const ValueKind* value = nullptr;
};
using Component = std::vector<Piece>;

std::string shown(const Component& component) {
    std::string text;
    for (const auto& piece : component) text += piece.value ? "{" + piece.text + "}" : piece.text;
    return text;
}

bool holds(const Component& component, ValueKind value) {
    for (const auto& piece : component) {
        if (piece.value && *piece.value == value) return true;
    }
    return false;
}

// "." and "..", and the names Windows turns into them by dropping trailing dots and spaces.
bool leads_elsewhere(const Component& component) {
    bool only_dots_and_spaces = true;
    for (const auto& piece : component) {
        if (piece.value) return false;
        for (const char c : piece.text) only_dots_and_spaces = only_dots_and_spaces && (c == '.' || c == ' ');
    }
    return only_dots_and_spaces && !shown(component).empty();
}

// The template as a message shows it: control characters escaped, a long one shortened.
std::string shown_template(const std::string& path_template) {
    const bool has_control = std::any_of(path_template.begin(), path_template.end(),
                                         [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    std::string text = has_control ? printable_bytes(path_template) : path_template;
    if (text.size() > 100) text = text.substr(0, 60) + "...";
    return "path template '" + text + "'";
}

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// In the \\?\ form Windows takes a path as it stands: '/' is no separator and nothing is
// normalised, so the rules here, which read a path as Windows normally does, would not hold.
// The launcher puts its own paths in that form where it needs it.
bool has_verbatim_prefix(const std::string& path_template) {
    if (path_template.size() < 4) return false;
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    return separator(path_template[0]) && separator(path_template[1]) && path_template[2] == '?' &&
           separator(path_template[3]);
}

class TemplateReader {
public:
    TemplateReader(const std::string& path_template, const FixedValues& fixed)
        : shown_(shown_template(path_template)), fixed_(fixed) {
        components_.emplace_back();
        read(path_template);
        if (literal_units_ > kTargetDirectoryCapacity) {
            throw ToolError(shown_ + ": it is " + std::to_string(literal_units_) +
                            " characters long before any run-time value is put in; the launcher's target "
                            "directory holds at most " + std::to_string(kTargetDirectoryCapacity));
        }
    }

    // The folder a run unpacks into must be new for every run and must not be reached
    // through "." or "..": the clean-up removes it with everything in it.
    void check_folder() const {
        for (const auto& component : components_) {
            if (leads_elsewhere(component)) {
                throw ToolError(shown_ + ": the part '" + shown(component) +
                                "' leads to another folder ('.' and '..' are not allowed)");
            }
        }
        const Component& last = components_.back();
        if (!holds(last, ValueKind::per_run)) {
            throw ToolError(shown_ + ": its last part, '" + shown(last) +
                            "', must hold {RANDOM}, {TIME_US} or {TIME}, so that every run unpacks into a "
                            "folder of its own (the folder is removed after the run)");
        }
        for (const auto& piece : last) {
            if (piece.value && *piece.value == ValueKind::path) {
                throw ToolError(shown_ + ": its last part, '" + shown(last) + "', holds {" + piece.text +
                                "}, a path that could make the run's folder one that already exists; put it "
                                "before a backslash");
            }
        }
    }

private:
    // Windows allows none of these in a path, and ':' only after a drive letter at the start.
    void check_path_character(char c) const {
        const auto code = static_cast<unsigned char>(c);
        const std::string origin = value_of_.empty() ? "it holds " : "the value of {" + value_of_ + "} holds ";
        if (code < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", code);
            throw ToolError(shown_ + ": " + origin + "the control character " + escaped +
                            ", which Windows does not allow in paths");
        }
        if (std::strchr("\"<>|?*", c) != nullptr) {
            throw ToolError(shown_ + ": " + origin + "'" + std::string(1, c) +
                            "', which Windows does not allow in paths (nor any of \" < > | ? *)");
        }
        if (c == ':' && !(emitted_ == 1 && first_is_letter_)) {
            throw ToolError(shown_ + ": " + origin +
                            "a ':' that is not a drive's (a path may hold ':' only right after a drive letter "
                            "at its start, as in C:\\)");
        }
    }

    void add_literal(char c) {
        check_path_character(c);
        if (emitted_ == 0) first_is_letter_ = is_ascii_letter(c);
        ++emitted_;
        // UTF-16 units: one for each UTF-8 lead byte, two for a four-byte sequence.
        const auto code = static_cast<unsigned char>(c);
        if ((code & 0xC0) != 0x80) literal_units_ += (code >= 0xF0) ? 2 : 1;
        if (c == '\\' || c == '/') {
            components_.emplace_back();
            return;
        }
        Component& component = components_.back();
        if (component.empty() || component.back().value) component.emplace_back();
        component.back().text.push_back(c);
    }

    void add_variable(const std::string& name) {
        if (name.empty()) throw ToolError(shown_ + ": '{}' names no variable");
        const ValueKind* value = variable_value(name);
        if (!value) throw ToolError(shown_ + ": unknown variable {" + name + "}");
        if (*value != ValueKind::fixed) {
            components_.back().push_back({name, value});
            ++emitted_;
            return;
        }
        // The launcher inserts a fixed value as it is, separators included.
        const auto found = fixed_.find(upper_case(name));
        if (found == fixed_.end()) throw ToolError(shown_ + ": no value for {" + name + "}");
        value_of_ = name;
        for (const char c : found->second) add_literal(c);
        value_of_.clear();
    }

    void read(const std::string& path_template) {
        if (!utf8_to_utf16(path_template)) throw ToolError(shown_ + " is not valid UTF-8");
        if (path_template.empty()) throw ToolError(shown_ + " is empty");
        if (has_verbatim_prefix(path_template)) {
            throw ToolError(shown_ + " is in the \\\\?\\ form, which is not taken; give the path without that "
                                     "prefix (the launcher takes long paths without it)");
        }
        bool in_name = false;
        std::string name;
        for (const char c : path_template) {
            if (c == '{') {
                // A second "{" restarts the name in the launcher, dropping the text before it.
                if (in_name) throw ToolError(shown_ + ": '{" + name + "' is never closed");
                in_name = true;
                name.clear();
            } else if (c == '}') {
                if (!in_name) throw ToolError(shown_ + ": '}' closes no '{'");
                add_variable(name);
                in_name = false;
            } else if (in_name) {
                name.push_back(c);
            } else {
                add_literal(c);
            }
        }
        if (in_name) throw ToolError(shown_ + ": '{" + name + "' is never closed");
    }

    std::string shown_;
    const FixedValues& fixed_;
    std::vector<Component> components_;
    std::string value_of_;        // the fixed variable whose value is being read, if any
    size_t emitted_ = 0;          // literal characters (bytes) and run-time variables so far
    bool first_is_letter_ = false;
    size_t literal_units_ = 0;    // UTF-16 units of the literal text, fixed values included
};

}  // namespace

void check_path_template(const std::string& path_template, const FixedValues& fixed) {
    TemplateReader(path_template, fixed).check_folder();
}

}  // namespace kelvor
