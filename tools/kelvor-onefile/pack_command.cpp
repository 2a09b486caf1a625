#include <cstdio>
#include <zstd.h>

#include "atomic_output_file.h"
#include "command_line.h"
#include "commands.h"
#include "pack_options.h"
#include "payload/payload_format.h"

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
    "\n"
    "  --app APP.dll       the application DLL, which exports run_code (64-bit)\n"
    "  --exe PROGRAM.exe   or an ordinary program (64-bit): its path relative to DIR\n"
    "  --dir DIR           the files that ship beside it (a DLL inside DIR is packed once)\n"
    "  -o, --output FILE   the payload block to write\n"
    "  --level N           zstd compression level (default 19)\n"
    "  --threads N         compression threads (default: one per core)\n"
    "  --window-log N      window of 2^N bytes, 10 to 27 (default: the smallest that holds\n"
    "                      the whole payload, at most 2^24: a larger window decodes slower)\n"
    "  --no-content-size   leave the decoded size out of the frame header\n"
    "  --launcher-dir DIR  where the runner DLL is (default: lib/kelvor-onefile beside bin/)\n"
    "  -h, --help          show this help\n";

}  // namespace

int run_pack(const std::vector<std::string>& arguments) {
    const CommandLine line("pack", arguments,
                           {"--app", "--exe", "--dir", "-o", "--output", "--level", "--threads", "--window-log",
                            "--launcher-dir"},
                           {"--no-content-size", "-h", "--help"});
    if (line.wants_help()) {
        std::fputs(kPackHelp, stdout);
        return 0;
    }
    line.refuse_positional();
    const std::string output = line.output();

    PackOptions options = pack_options_from(line);
    options.record_content_size = !line.has("--no-content-size");
    const auto entries = entries_from(line, output);

    AtomicOutputFile file(output);
    const auto summary =
        write_payload_block(entries, options, [&file](const void* data, size_t count) { file.write(data, count); });
    file.commit();
    std::printf("%s: %llu entries, %llu bytes of files, %llu bytes compressed, window 2^%d\n", output.c_str(),
                static_cast<unsigned long long>(summary.entries), static_cast<unsigned long long>(summary.file_bytes),
                static_cast<unsigned long long>(summary.block_bytes), summary.window_log);
    return 0;
}

}  // namespace kelvor
