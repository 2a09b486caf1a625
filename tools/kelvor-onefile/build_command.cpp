#include <cstdio>

#include "atomic_output_file.h"
#include "authenticode_signing.h"
#include "build_options.h"
#include "command_line.h"
#include "commands.h"
#include "file_contents.h"
#include "icon_set.h"
#include "image_sources.h"
#include "launcher_linking.h"
#include "pack_options.h"
#include "temporary_directory.h"
#include "tool_error.h"
#include "utf8_paths.h"
#include "tool_paths.h"
#include "toolchain.h"

namespace kelvor {

namespace {

const char kBuildHelp[] =
    "Usage: kelvor-onefile build --app APP.dll [--dir DIR] -o App.exe [options]\n"
    "       kelvor-onefile build --exe PROGRAM.exe --dir DIR -o App.exe [options]\n"
    "\n"
    "Turns an application into one Windows executable: packs the DLL (or the runner DLL that\n"
    "starts the program) and the files below DIR, writes the version resource, icons and\n"
    "manifest, and links them with the launcher library using the mingw-w64 cross toolchain.\n"
    "Every input is checked first, as 'pack' checks it (see 'kelvor-onefile pack --help'), with\n"
    "the strings and icons; nothing is written, and nothing temporary is left, when one fails or\n"
    "when the build is interrupted.\n"
    "\n";

OptionTable build_command_options() {
    OptionTable options = joined(input_options(), {
        {{"-o", "--output"}, "App.exe", "the executable to write"},
        {{"--console"}, "",
         "a console-subsystem executable, for command-line programs\n"
         "(default: the GUI subsystem, which a shell does not wait for)"},
        cpu_level_option(),
    });
    options = joined(joined(joined(options, build_string_options()), signing_options()), pack_tuning_options());
    return joined(options,
                  {launcher_directory_option("the runner DLL, and the launcher library in DIR/LEVEL/"),
                   {{"--cc"}, "PROGRAM",
                    "the cross compiler (default " + std::string(linking::kCxxCompilers[0]) + " on PATH)"},
                   {{"--windres"}, "PROGRAM",
                    "the resource compiler (default " + std::string(linking::kResourceCompiler) + ")"},
                   help_option()});
}

}  // namespace

int run_build(const std::vector<std::string>& arguments) {
    const OptionTable options = build_command_options();
    const CommandLine line("build", arguments, options);
    if (line.wants_help()) {
        std::printf("%s%s", kBuildHelp, options_help(options).c_str());
        return 0;
    }
    line.refuse_positional();
    const auto output = line.output_path();
    const PackOptions pack = pack_options_from(line);
    const std::string cpu = cpu_level(line.value("--cpu"));
    const auto signing = signing_from(line);

    // Everything that can be wrong with the inputs is found before the long packing starts.
    const BuildStrings strings = build_strings_from(line, utf8_of(output));
    check_build_strings(strings);
    const auto icon = icon_source(line);
    read_icon_set(icon);
    std::vector<InputPath> other_inputs = signing_inputs(signing);
    std::error_code not_a_directory;
    const bool icon_directory = std::filesystem::is_directory(icon, not_a_directory);
    for (const auto& file : icon_files(icon)) {
        other_inputs.push_back({line.value("--icon") ? "--icon" : "the default icons", file, icon_directory});
    }
    const auto entries = entries_from(line, output, other_inputs);
    const Toolchain toolchain = find_toolchain(line.value("--cc"), line.value("--windres"));
    const auto library = launcher_library(launcher_directory(line.value("--launcher-dir")), cpu);

    TemporaryDirectory work;
    const auto payload = work.path() / path_from_utf8("payload.bin");
    {
        AtomicOutputFile file(payload);
        write_payload_block(entries, pack, [&file](const void* data, size_t count) { file.write(data, count); });
        file.commit();
    }
    write_image_sources(work.path(), payload, strings, icon);
    // The linker writes no time stamp, so the image is the same for the same inputs.
    const Subsystem subsystem = line.has("--console") ? Subsystem::console : Subsystem::gui;
    auto linked = link_launcher(toolchain, work.path(), library, subsystem);
    if (signing) linked = sign_image(*signing, linked);
    const auto image = read_whole_file(linked, kLargestImageBytes, "an executable");

    AtomicOutputFile executable(output, AtomicOutputFile::Mode::executable);
    executable.write(image.data(), image.size());
    executable.commit();
    std::printf("%s: %zu entries, %zu bytes\n", utf8_of(output).c_str(), entries.size(), image.size());
    return 0;
}

}  // namespace kelvor
