#include <cstdio>

#include "command_line.h"
#include "commands.h"
#include "payload_block_reader.h"
#include "text_encoding.h"
#include "tool_error.h"

namespace kelvor {

namespace {

const char kListHelp[] =
    "Usage: kelvor-onefile list FILE\n"
    "\n"
    "Checks a payload block, or the block inside a launcher executable, from end to end (the\n"
    "header, the whole frame with its content checksum, the entry stream and the tail) and\n"
    "lists its entries: each entry's size and name, then the number of entries, the decoded\n"
    "and compressed sizes, the checksum and the window. A damaged block is an error naming the\n"
    "part that is wrong, and so is what the launcher would refuse: a payload with no entries,\n"
    "an entry name that leads out of its directory or into a device ('..\\x', 'C:\\x', 'CON').\n"
    "FILE must be a regular file.\n"
    "\n";

}  // namespace

int run_list(const std::vector<std::string>& arguments) {
    const OptionTable options = {help_option()};
    const CommandLine line("list", arguments, options);
    if (line.wants_help()) {
        std::printf("%s%s", kListHelp, options_help(options).c_str());
        return 0;
    }
    if (line.positional().size() != 1) throw UsageError("list: give exactly one FILE");
    const BlockContents contents = read_payload_file(path_from_utf8(line.positional()[0]));
    std::printf("%14s  %s\n", "size", "name");
    for (const auto& entry : contents.entries) {
        std::printf("%14llu  %s\n", static_cast<unsigned long long>(entry.size), utf16_to_utf8(entry.name).c_str());
    }
    std::printf("%llu entries, %llu bytes of files, %llu bytes decoded, %llu bytes compressed "
                "(frame %llu), %s, window %llu bytes\n",
                static_cast<unsigned long long>(contents.entries.size()),
                static_cast<unsigned long long>(contents.file_bytes),
                static_cast<unsigned long long>(contents.stream_bytes),
                static_cast<unsigned long long>(contents.block_bytes),
                static_cast<unsigned long long>(contents.frame_bytes),
                contents.has_checksum ? "content checksum verified" : "no content checksum",
                static_cast<unsigned long long>(contents.window_size));
    return 0;
}

}  // namespace kelvor
