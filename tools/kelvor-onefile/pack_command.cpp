#include <cstdio>
#include <zstd.h>

#include "atomic_output_file.h"
#include "command_line.h"
#include "commands.h"
#include "entry_collection.h"
#include "payload/payload_format.h"
#include "payload_block_writer.h"
#include "tool_error.h"

namespace kelvor {

namespace {

const char kPackHelp[] =
    "Usage: kelvor-onefile pack --app APP.dll [--dir DIR] -o PAYLOAD [options]\n"
    "\n"
    "Writes the payload block that a launcher carries: the application DLL as the first\n"
    "entry, then every regular file below DIR under its path relative to DIR.\n"
    "\n"
    "  --app APP.dll       the application DLL, which exports run_code\n"
    "  --dir DIR           the files that ship beside it (a DLL inside DIR is packed once)\n"
    "  -o, --output FILE   the payload block to write\n"
    "  --level N           zstd compression level (default 19)\n"
    "  --threads N         compression threads (default: one per core)\n"
    "  --window-log N      window of 2^N bytes, 10 to 27 (default: the smallest that holds\n"
    "                      the whole payload)\n"
    "  --no-content-size   leave the decoded size out of the frame header\n"
    "  -h, --help          show this help\n";

}  // namespace

int run_pack(const std::vector<std::string>& arguments) {
    const CommandLine line("pack", arguments,
                           {"--app", "--dir", "-o", "--output", "--level", "--threads", "--window-log"},
                           {"--no-content-size", "-h", "--help"});
    if (line.has("-h") || line.has("--help")) {
        std::fputs(kPackHelp, stdout);
        return 0;
    }
    if (!line.positional().empty()) throw UsageError("pack: unexpected argument '" + line.positional()[0] + "'");
    const std::string output = line.value("-o") ? *line.value("-o") : line.required("--output");

    PackOptions options;
    options.level = line.number("--level", ZSTD_minCLevel(), ZSTD_maxCLevel()).value_or(options.level);
    options.threads = line.number("--threads", 1, 256).value_or(0);
    options.window_log = line.number("--window-log", ZSTD_WINDOWLOG_MIN, payload_format::max_window_log);
    options.record_content_size = !line.has("--no-content-size");

    std::optional<std::filesystem::path> dir;
    if (const auto given = line.value("--dir")) dir = *given;
    const auto entries = collect_entries(line.required("--app"), dir);

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
