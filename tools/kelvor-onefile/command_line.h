// A small command-line reader for the subcommands: "--name value", "--name=value", "-o value",
// flags, and positional arguments. Unknown options are usage errors. A command's options are
// one table, which both the reader and the command's help are made from.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "utf8_paths.h"

namespace kelvor {

// One option: its names ("-o", "--output"), what its value is called in the help (empty for a
// flag, which takes none) and its help text, whose lines ('\n') after the first continue under
// it.
struct OptionSpec {
    std::vector<std::string> names;
    std::string value;
    std::string help;
};
using OptionTable = std::vector<OptionSpec>;

// -h, --help, which every command takes.
OptionSpec help_option();
// first followed by second.
OptionTable joined(OptionTable first, const OptionTable& second);

// The help lines of the options, in the table's order: each option's names and value, then its
// text in one column ("  -o, --output FILE   the payload block to write").
std::string options_help(const OptionTable& options);

class CommandLine {
public:
    // The options of the table, by any of their names. Throws UsageError.
    CommandLine(const std::string& command, const std::vector<std::string>& arguments, const OptionTable& options);

    bool has(const std::string& option) const;
    std::optional<std::string> value(const std::string& option) const;
    std::string required(const std::string& option) const;  // throws UsageError when absent
    // Which of two options that exclude each other was given, and its value; throws UsageError
    // when neither or both were.
    std::pair<std::string, std::string> one_of(const std::string& first, const std::string& second) const;
    // A whole number within [minimum, maximum]; throws UsageError otherwise.
    std::optional<int> number(const std::string& option, int minimum, int maximum) const;
    const std::vector<std::string>& positional() const { return positional_; }
    const std::string& command() const { return command_; }

    // -h or --help, for commands that take them as flags.
    bool wants_help() const { return has("-h") || has("--help"); }
    // Throws UsageError naming the first positional argument, for commands that take none.
    void refuse_positional() const;
    // The value of -o, else of --output, which is then required.
    std::string output() const { return value("-o") ? *value("-o") : required("--output"); }
    // Values that name files, as paths (see utf8_paths.h).
    std::optional<std::filesystem::path> path(const std::string& option) const;
    std::filesystem::path output_path() const { return path_from_utf8(output()); }

private:
    std::string command_;
    std::map<std::string, std::string> values_;
    std::set<std::string> flags_;
    std::vector<std::string> positional_;
};

}  // namespace kelvor
