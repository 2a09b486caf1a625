#include "command_line.h"

#include <cerrno>
#include <cstdlib>

#include "tool_error.h"

namespace kelvor {

CommandLine::CommandLine(const std::string& command, const std::vector<std::string>& arguments,
                         const std::set<std::string>& value_options, const std::set<std::string>& flag_options)
    : command_(command) {
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
