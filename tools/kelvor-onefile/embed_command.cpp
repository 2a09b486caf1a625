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
    "\n"
    "  --payload FILE           the payload block (from 'kelvor-onefile pack')\n"
    "  --output-dir DIR         where to write the sources (an existing directory)\n"
    "  --name FILE.exe          the executable's file name, for its version resource\n";

}  // namespace

int run_embed(const std::vector<std::string>& arguments) {
    std::set<std::string> value_options = {"--payload", "--output-dir", "--name"};
    value_options.insert(kBuildStringOptions.begin(), kBuildStringOptions.end());
    const CommandLine line("embed", arguments, value_options, {"-h", "--help"});
    if (line.wants_help()) {
        std::printf("%s%s  -h, --help                 show this help\n", kEmbedHelp, build_string_options_help().c_str());
        return 0;
    }
    line.refuse_positional();
    const std::string directory = line.required("--output-dir");
    const std::string payload = line.required("--payload");
    InputFile{payload};  // a regular file that can be read: the assembler takes it in whole
    write_image_sources(directory, payload, build_strings_from(line, line.required("--name")),
                        icon_source(line));
    return 0;
}

}  // namespace kelvor
