#include <cstdio>

#include "command_line.h"
#include "commands.h"
#include "entry_file_writer.h"
#include "payload_block_reader.h"
#include "temporary_directory.h"
#include "tool_error.h"

namespace kelvor {

namespace {

namespace fs = std::filesystem;

const char kExtractHelp[] =
    "Usage: kelvor-onefile extract FILE -o DIR\n"
    "\n"
    "Writes the files of a payload block, or of the block inside a launcher executable, below\n"
    "DIR, each under its entry name (backslashes become slashes), checking the block as 'list'\n"
    "does, its content checksum included. A name that would lead out of DIR or that Windows\n"
    "would read otherwise (an empty part or a backslash at its start, '.' or '..', a drive's\n"
    "':', a device name such as CON or 'nul .txt') is refused.\n"
    "\n"
    "DIR must be new or an empty directory, named by a name of its own (not '.' or '..'):\n"
    "extracting never mixes a payload's files with others nor replaces any. The files are\n"
    "written into DIR.tmp-XXXXXX beside it, which becomes DIR only once every file is written\n"
    "and the block has proved whole; on any failure, or when interrupted, nothing is left.\n"
    "\n";

const OptionTable kExtractOptions = {{{"-o", "--output"}, "DIR", "the directory to write"}, help_option()};

// Checked before anything is read. The files are written beside the target and renamed to
// it, so it must be named by a name of its own: not "", ".", ".." or "/". A directory that
// exists and holds something is refused too; the rename checks it again at the end, in case
// something appeared meanwhile.
fs::path checked_target(const std::string& output) {
    fs::path target = path_from_utf8(output);
    if (target.has_relative_path() && target.filename().empty()) target = target.parent_path();  // "out/"
    const std::string shown = "'" + output + "'";
    if (target.filename().empty() || utf8_of(target.filename()) == "." || utf8_of(target.filename()) == "..") {
        throw ToolError("-o " + shown + " does not name a directory of its own; extract writes the files beside the "
                        "directory and renames them to it, so give its name (such as 'out' or '../out')");
    }
    std::error_code error;
    const auto status = fs::symlink_status(target, error);
    if (!fs::exists(status)) return target;
    if (!fs::is_directory(status)) throw ToolError(shown + " exists and is not a directory");
    const bool empty = fs::is_empty(target, error);
    if (error) throw ToolError("cannot read the directory " + shown + ": " + error.message());
    if (!empty) {
        throw ToolError(shown + " is not empty; extract writes into a new or empty directory only, so that it holds "
                                "what the payload carries and nothing of it replaces a file");
    }
    return target;
}

}  // namespace

int run_extract(const std::vector<std::string>& arguments) {
    const CommandLine line("extract", arguments, kExtractOptions);
    if (line.wants_help()) {
        std::printf("%s%s", kExtractHelp, options_help(kExtractOptions).c_str());
        return 0;
    }
    if (line.positional().size() != 1) throw UsageError("extract: give exactly one FILE");
    const fs::path target = checked_target(line.output());

    TemporaryDirectory work(target);
    EntryFileWriter files(work.path());
    const BlockContents contents = read_payload_file(
        path_from_utf8(line.positional()[0]),
        [&files](const ListedEntry& entry, const unsigned char* data, size_t count) { files.take(entry, data, count); },
        "extracting");
    files.finish();
    work.rename_to(target);
    std::printf("%s: %llu entries, %llu bytes of files, %s\n", utf8_of(target).c_str(),
                static_cast<unsigned long long>(contents.entries.size()),
                static_cast<unsigned long long>(contents.file_bytes),
                contents.has_checksum ? "content checksum verified" : "no content checksum to verify");
    return 0;
}

}  // namespace kelvor
