#include <cstdio>

#include "atomic_output_file.h"
#include "command_line.h"
#include "commands.h"
#include "pack_options.h"
#include "tool_paths.h"

namespace kelvor {

namespace {

const char kPackHelp[] =
    "Usage: kelvor-onefile pack --app APP.dll [--dir DIR] -o PAYLOAD [options]\n"
    "       kelvor-onefile pack --exe PROGRAM.exe --dir DIR -o PAYLOAD [options]\n"
    "\n"
    "Writes the payload block that a launcher carries: the application DLL as the first\n"
    "entry, then every regular file below DIR under its path relative to DIR, in one zstd\n"
    "frame with its content checksum. With --exe, an ordinary program in DIR is packed\n"
    "instead: the first entry is the runner DLL that ships with the tool, named after the\n"
    "program (PROGRAM.exe.kelvor-runner.dll beside it), which starts the program.\n"
    "\n"
    "Nothing is written unless every input passes: APP.dll must be a 64-bit Windows DLL that\n"
    "exports run_code, PROGRAM.exe a 64-bit Windows program inside DIR; every file must be a\n"
    "regular file that can be read, under a name that Windows reads as it is (no device names\n"
    "such as CON, 'NUL .txt' or COM1); the output may not be an input nor lie inside DIR.\n"
    "\n";

OptionTable pack_command_options() {
    OptionTable options = joined(input_options(), {{{"-o", "--output"}, "FILE", "the payload block to write"}});
    options = joined(options, pack_tuning_options());
    options.push_back(launcher_directory_option("where the runner DLL is"));
    options.push_back(help_option());
    return options;
}

}  // namespace

int run_pack(const std::vector<std::string>& arguments) {
    const OptionTable table = pack_command_options();
    const CommandLine line("pack", arguments, table);
    if (line.wants_help()) {
        std::printf("%s%s", kPackHelp, options_help(table).c_str());
        return 0;
    }
    line.refuse_positional();
    const auto output = line.output_path();

    const PackOptions options = pack_options_from(line);
    const auto entries = entries_from(line, output);

    AtomicOutputFile file(output);
    const auto summary =
        write_payload_block(entries, options, [&file](const void* data, size_t count) { file.write(data, count); });
    file.commit();
    std::printf("%s: %llu entries, %llu bytes of files, %llu bytes compressed, window 2^%d\n", utf8_of(output).c_str(),
                static_cast<unsigned long long>(summary.entries), static_cast<unsigned long long>(summary.file_bytes),
                static_cast<unsigned long long>(summary.block_bytes), summary.window_log);
    return 0;
}

}  // namespace kelvor
