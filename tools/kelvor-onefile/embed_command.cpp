#include <cstdio>

#include "atomic_output_file.h"
#include "command_line.h"
#include "commands.h"
#include "image_data_source.h"
#include "tool_error.h"

namespace kelvor {

namespace {

const char kEmbedHelp[] =
    "Usage: kelvor-onefile embed --payload PAYLOAD -o IMAGE_DATA.S [options]\n"
    "\n"
    "Writes the assembly source that places a payload block and the build-time strings into\n"
    "a launcher's read-only data. Linked with the launcher library, it makes one executable\n"
    "(the CMake function kelvor_add_onefile does this).\n"
    "\n"
    "  --payload FILE           the payload block (from 'kelvor-onefile pack')\n"
    "  -o, --output FILE        the assembly source to write\n"
    "  --company TEXT           company name ({COMPANY})\n"
    "  --product TEXT           product name ({PRODUCT})\n"
    "  --version TEXT           version ({VERSION}, {FILE_VERSION})\n"
    "  --product-version TEXT   product version ({PRODUCT_VERSION})\n"
    "  --template TEXT          where to unpack (default {TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM})\n"
    "  -h, --help               show this help\n";

}  // namespace

static BuildStrings build_strings_from(const CommandLine& line) {
    BuildStrings strings;
    strings.company = line.value("--company").value_or(strings.company);
    strings.product = line.value("--product").value_or(strings.product);
    strings.version = line.value("--version").value_or(strings.version);
    strings.product_version = line.value("--product-version").value_or(strings.product_version);
    strings.path_template = line.value("--template").value_or(strings.path_template);
    return strings;
}

int run_embed(const std::vector<std::string>& arguments) {
    const CommandLine line("embed", arguments,
                           {"--payload", "-o", "--output", "--company", "--product", "--version",
                            "--product-version", "--template"},
                           {"-h", "--help"});
    if (line.has("-h") || line.has("--help")) {
        std::fputs(kEmbedHelp, stdout);
        return 0;
    }
    if (!line.positional().empty()) throw UsageError("embed: unexpected argument '" + line.positional()[0] + "'");
    const std::string output = line.value("-o") ? *line.value("-o") : line.required("--output");
    const std::string source = image_data_source(line.required("--payload"), build_strings_from(line));
    AtomicOutputFile file(output);
    file.write(source.data(), source.size());
    file.commit();
    return 0;
}

}  // namespace kelvor
