#include "command_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "tool_error.h"

namespace kelvor {

namespace {

// Help text starts in the column after the widest label up to this width; a wider label has its
// text on the next line.
constexpr size_t kWidestLabelInline = 24;

std::string label_of(const OptionSpec& option) {
    std::string label;
    for (const auto& name : option.names) label += (label.empty() ? "" : ", ") + name;
    return option.value.empty() ? label : label + " " + option.value;
}

}  // namespace

OptionSpec help_option() { return {{"-h", "--help"}, "", "show this help"}; }

OptionTable joined(OptionTable first, const OptionTable& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

std::string options_help(const OptionTable& options) {
    size_t width = 0;
    for (const auto& option : options) {
        const size_t length = label_of(option).size();
        if (length <= kWidestLabelInline) width = std::max(width, length);
    }
    const std::string indent(2 + width + 2, ' ');
    std::string help;
    for (const auto& option : options) {
        const std::string label = "  " + label_of(option);
        help += label.size() + 2 <= indent.size() ? label + std::string(indent.size() - label.size(), ' ')
                                                  : label + "\n" + indent;
        for (const char c : option.help) help += c == '\n' ? "\n" + indent : std::string(1, c);
        help += '\n';
    }
    return help;
}

CommandLine::CommandLine(const std::string& command, const std::vector<std::string>& arguments,
                         const OptionTable& options)
    : command_(command) {
    std::set<std::string> value_options, flag_options;
    for (const auto& option : options) {
        (option.value.empty() ? flag_options : value_options).insert(option.names.begin(), option.names.end());
    }
    bool options_ended = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (options_ended || argument.size() < 2 || argument[0] != '-') {
            positional_.push_back(argument);
            continue;
        }
        if (argument == "--") {
            options_ended = true;
            continue;
        }
        std::string name = argument;
        std::optional<std::string> inline_value;
        if (const auto equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            inline_value = argument.substr(equals + 1);
        }
        if (flag_options.count(name) && !inline_value) {
            flags_.insert(name);
        } else if (value_options.count(name)) {
            if (!inline_value && i + 1 >= arguments.size()) throw UsageError(command + ": " + name + " needs a value");
            values_[name] = inline_value ? *inline_value : arguments[++i];
        } else {
            throw UsageError(command + ": unknown option '" + argument + "'");
        }
    }
}

bool CommandLine::has(const std::string& option) const { return flags_.count(option) > 0; }

std::optional<std::string> CommandLine::value(const std::string& option) const {
    const auto it = values_.find(option);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::string CommandLine::required(const std::string& option) const {
    const auto found = value(option);
    if (!found) throw UsageError(command_ + ": " + option + " is required");
    return *found;
}

std::pair<std::string, std::string> CommandLine::one_of(const std::string& first, const std::string& second) const {
    const auto first_value = value(first);
    const auto second_value = value(second);
    if (first_value && second_value) throw UsageError(command_ + ": " + first + " and " + second + " exclude each other");
    if (first_value) return {first, *first_value};
    if (second_value) return {second, *second_value};
    throw UsageError(command_ + ": " + first + " or " + second + " is required");
}

void CommandLine::refuse_positional() const {
    if (!positional_.empty()) throw UsageError(command_ + ": unexpected argument '" + positional_[0] + "'");
}

std::optional<std::filesystem::path> CommandLine::path(const std::string& option) const {
    const auto text = value(option);
    if (!text) return std::nullopt;
    return path_from_utf8(*text);
}

std::optional<int> CommandLine::number(const std::string& option, int minimum, int maximum) const {
    const auto text = value(option);
    if (!text) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || errno != 0 || parsed < minimum || parsed > maximum) {
        throw UsageError(command_ + ": " + option + " takes a whole number from " + std::to_string(minimum) +
                         " to " + std::to_string(maximum) + ", not '" + *text + "'");
    }
    return static_cast<int>(parsed);
}

}  // namespace kelvor
