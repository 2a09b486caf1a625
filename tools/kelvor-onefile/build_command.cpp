#include <cstdint>
#include <cstdio>
#include <optional>

#include "atomic_output_file.h"
#include "authenticode_signing.h"
#include "build_options.h"
#include "command_line.h"
#include "commands.h"
#include "file_contents.h"
#include "icon_set.h"
#include "image_sources.h"
#include "launcher_image.h"
#include "output_placement.h"
#include "pack_options.h"
#include "resource_section.h"
#include "temporary_directory.h"
#include "tool_error.h"
#include "tool_paths.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

const char kBuildHelp[] =
    "Usage: kelvor-onefile build --app APP.dll [--dir DIR] -o App.exe [options]\n"
    "       kelvor-onefile build --exe PROGRAM.exe --dir DIR -o App.exe [options]\n"
    "\n"
    "Turns an application into one Windows executable: packs the DLL (or the runner DLL that\n"
    "starts the program) and the files below DIR, and writes them with the version resource,\n"
    "icons and manifest into a copy of the prebuilt launcher of the processor level and\n"
    "subsystem (DIR/LEVEL/kelvor-launcher-gui.exe or kelvor-launcher-console.exe, installed with\n"
    "the tool). No compiler, resource compiler or linker is needed; signing needs osslsigncode.\n"
    "The same inputs give the same bytes.\n"
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
    return joined(options, {launcher_directory_option("the runner DLL, and the prebuilt launchers in DIR/LEVEL/"),
                            help_option()});
}

// The file's bytes, in pieces, to out.
void copy_file(const std::filesystem::path& path, const ByteSink& out) {
    InputFile file(path);
    std::vector<unsigned char> piece(1 << 20);
    while (const std::size_t count = file.read_some(piece.data(), piece.size())) out(piece.data(), count);
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
    const auto icons = read_icon_set(icon);
    std::vector<InputPath> other_inputs = signing_inputs(signing);
    std::error_code not_a_directory;
    const bool icon_directory = std::filesystem::is_directory(icon, not_a_directory);
    for (const auto& file : icon_files(icon)) {
        other_inputs.push_back({line.value("--icon") ? "--icon" : "the default icons", file, icon_directory});
    }
    const auto entries = entries_from(line, output, other_inputs);
    const Subsystem subsystem = line.has("--console") ? Subsystem::console : Subsystem::gui;
    const auto launcher_file = prebuilt_launcher(launcher_directory(line.value("--launcher-dir")), cpu, subsystem);
    check_output_placement(output, {{"--launcher-dir", launcher_file, true}});
    const LauncherImage launcher(launcher_file, subsystem);
    const auto resources = resource_section(launcher_resources(strings, icons), launcher.resource_section_address());

    // The payload goes to a working file first: the image data's head before it holds its size.
    // Its checksum is summed on the way, so it is read back only once, into the executable.
    TemporaryDirectory work;
    StreamedPayload payload;
    const auto payload_file = work.path() / path_from_utf8("payload.bin");
    {
        AtomicOutputFile file(payload_file);
        write_payload_block(entries, pack, [&](const void* data, std::size_t count) {
            payload.checksum.add(data, count);
            file.write(data, count);
        });
        file.commit();
    }
    payload.size = payload.checksum.length();
    payload.write = [&](const ByteSink& out) { copy_file(payload_file, out); };
    const auto head = image_data_head(strings, payload.size);

    // A signed executable is written and signed in the working directory, then copied out.
    std::optional<std::filesystem::path> signed_image;
    if (signing) {
        const auto unsigned_image = work.path() / path_from_utf8("unsigned.exe");
        AtomicOutputFile file(unsigned_image);
        launcher.write_executable(resources, head, payload,
                                  [&](const void* data, std::size_t count) { file.write(data, count); });
        file.commit();
        signed_image = sign_image(*signing, unsigned_image);
    }
    AtomicOutputFile executable(output, AtomicOutputFile::Mode::executable);
    const ByteSink to_output = [&](const void* data, std::size_t count) { executable.write(data, count); };
    std::uint64_t size = 0;
    if (signed_image) {
        size = InputFile(*signed_image).size();
        copy_file(*signed_image, to_output);
    } else {
        size = launcher.write_executable(resources, head, payload, to_output);
    }
    executable.commit();
    std::printf("%s: %zu entries, %llu bytes\n", utf8_of(output).c_str(), entries.size(),
                static_cast<unsigned long long>(size));
    return 0;
}

}  // namespace kelvor
