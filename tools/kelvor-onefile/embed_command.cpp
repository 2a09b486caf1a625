#include <cstdio>

#include "build_options.h"
#include "command_line.h"
#include "commands.h"
#include "file_contents.h"
#include "image_sources.h"

namespace kelvor {

namespace {

const char kEmbedHelp[] =
    "Usage: kelvor-onefile embed --payload PAYLOAD --output-dir DIR --name App.exe [options]\n"
    "\n"
    "Writes the sources that, linked with the launcher library, make one executable:\n"
    "DIR/image-data.S (the payload and the build-time strings) and DIR/resources.rc with its\n"
    "icon and manifest. The CMake function kelvor_add_onefile runs this.\n"
    "\n";

OptionTable embed_command_options() {
    const OptionTable options = {
        {{"--payload"}, "FILE", "the payload block (from 'kelvor-onefile pack')"},
        {{"--output-dir"}, "DIR", "where to write the sources (an existing directory)"},
        {{"--name"}, "FILE.exe", "the executable's file name, for its version resource"},
    };
    return joined(joined(options, build_string_options()), {help_option()});
}

}  // namespace

int run_embed(const std::vector<std::string>& arguments) {
    const OptionTable options = embed_command_options();
    const CommandLine line("embed", arguments, options);
    if (line.wants_help()) {
        std::printf("%s%s", kEmbedHelp, options_help(options).c_str());
        return 0;
    }
    line.refuse_positional();
    const std::string directory = line.required("--output-dir");
    const std::string payload = line.required("--payload");
    InputFile{path_from_utf8(payload)};  // a regular file that can be read: the assembler takes it in whole
    write_image_sources(path_from_utf8(directory), path_from_utf8(payload), build_strings_from(line, line.required("--name")),
                        icon_source(line));
    return 0;
}

}  // namespace kelvor
