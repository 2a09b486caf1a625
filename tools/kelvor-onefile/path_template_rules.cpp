#include "path_template_rules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "path_template/path_template_variables.h"
#include "path_template/random_text.h"
#include "payload/entry_name_rules.h"
#include "text/ascii_case.h"
#include "text_encoding.h"
#include "tool_error.h"

namespace kelvor {

namespace {

using path_template_language::ValueKind;
using path_template_language::Variable;
using path_template_language::VariableInfo;

// The most characters a run-time value can have, as the launcher writes it: {PID} in "%ld" of
// a 32-bit number ("-2147483648"), {RANDOM} in base64, {TIME_US} in "%06ld" of the microseconds
// within a second, {TIME} in "%lld" of a FILETIME count, which the system keeps below 2^63.
// Paths count at their shortest, empty: {TEMP} is empty when GetTempPathW fails, and
// {PROGRAM} is argument 0, which may be empty. So a template is refused only when no run can
// fit it.
size_t longest_value(Variable variable) {
    switch (variable) {
        case Variable::pid: return 11;
        case Variable::random: return random_text_units - 1;
        case Variable::time_us: return 6;
        case Variable::time: return 19;
        default: return 0;
    }
}

size_t utf16_units(const std::string& utf8) {
    const auto units = utf8_to_utf16(utf8);
    return units ? units->size() : utf8.size();
}

std::string upper_case(const std::string& text) {
    std::string upper;
    for (const char c : text) upper.push_back(ascii_upper(c));
    return upper;
}

// Names are matched without regard to case, as the launcher does.
const VariableInfo* variable_named(const std::string& name) {
    const std::string upper = upper_case(name);
    for (const auto& variable : path_template_language::variables) {
        if (upper == variable.name) return &variable;
    }
    return nullptr;
}

// One piece of a folder name: literal text (fixed values included), or a variable known only
// at run time.
struct Piece {
    std::string text;  // the literal text, or the variable's name as written
    const VariableInfo* value = nullptr;
};
using Component = std::vector<Piece>;

std::string shown(const Component& component) {
    std::string text;
    for (const auto& piece : component) text += piece.value ? "{" + piece.text + "}" : piece.text;
    return text;
}

bool holds(const Component& component, ValueKind kind) {
    for (const auto& piece : component) {
        if (piece.value && piece.value->kind == kind) return true;
    }
    return false;
}

// The most characters the part can have once the run-time values are in.
size_t longest_length(const Component& component) {
    size_t length = 0;
    for (const auto& piece : component) length += piece.value ? longest_value(piece.value->variable) : utf16_units(piece.text);
    return length;
}

// Windows reads a part as a device by what comes before its first dot, so a part names a
// device whatever run-time values follow that dot; before it, a value makes it another name.
bool names_a_device(const Component& component) {
    std::string known;
    for (const auto& piece : component) {
        if (piece.value && known.find('.') == std::string::npos) return false;
        if (piece.value) break;
        known += piece.text;
    }
    const auto units = utf8_to_utf16(known);
    return units && entry_name_rules::is_device_name(units->data(), units->size());
}

bool ends_in_dot_or_space(const Component& component) {
    if (component.empty() || component.back().value || component.back().text.empty()) return false;
    const char last = component.back().text.back();
    return last == '.' || last == ' ';
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
        size_t longest = 0;
        for (const auto& component : components_) longest += longest_length(component) + 1;
        longest -= 1;  // the separators between the parts
        if (longest > target_directory_capacity) {
            throw ToolError(shown_ + ": it can be " + std::to_string(longest) +
                            " characters long, with the build-time values put in and the run-time ones at their "
                            "longest ({PID} 11, {RANDOM} 11, {TIME_US} 6, {TIME} 19, paths counted empty); the "
                            "launcher's target directory holds at most " + std::to_string(target_directory_capacity));
        }
    }

    // Every part must be a name Windows creates as it stands, and the folder a run unpacks into
    // must be new for every run and must not be reached through "." or "..": the clean-up
    // removes it with everything in it.
    void check_folder() const {
        for (const auto& component : components_) check_part(component);
        const Component& last = components_.back();
        if (!holds(last, ValueKind::per_run)) {
            throw ToolError(shown_ + ": its last part, '" + shown(last) +
                            "', must hold {RANDOM}, {TIME_US} or {TIME}, so that every run unpacks into a "
                            "folder of its own (the folder is removed after the run)");
        }
        for (const auto& piece : last) {
            if (piece.value && piece.value->kind == ValueKind::path) {
                throw ToolError(shown_ + ": its last part, '" + shown(last) + "', holds {" + piece.text +
                                "}, a path that could make the run's folder one that already exists; put it "
                                "before a backslash");
            }
        }
    }

private:
    void check_part(const Component& component) const {
        const std::string part = shown_ + ": the part '" + shown(component) + "'";
        if (leads_elsewhere(component)) throw ToolError(part + " leads to another folder ('.' and '..' are not allowed)");
        if (names_a_device(component)) {
            throw ToolError(part + " is a name that Windows reads as a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$, "
                                   "COM1 to COM9, LPT1 to LPT9, with any extension), build-time values included");
        }
        if (ends_in_dot_or_space(component)) {
            throw ToolError(part + " ends in a dot or a space, which Windows drops from a path");
        }
        if (const size_t length = longest_length(component); length > kLongestPathPart) {
            throw ToolError(part + " can be " + std::to_string(length) + " characters long; Windows takes at most " +
                            std::to_string(kLongestPathPart) + " in one part of a path");
        }
    }

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
        const VariableInfo* value = variable_named(name);
        if (!value) throw ToolError(shown_ + ": unknown variable {" + name + "}");
        if (value->kind != ValueKind::fixed) {
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
};

}  // namespace

void check_path_template(const std::string& path_template, const FixedValues& fixed) {
    TemplateReader(path_template, fixed).check_folder();
}

}  // namespace kelvor
