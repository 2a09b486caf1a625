#include "pack_options.h"

#include <zstd.h>

namespace kelvor {

PackOptions pack_options_from(const CommandLine& line) {
    PackOptions options;
    options.level = line.number("--level", ZSTD_minCLevel(), ZSTD_maxCLevel()).value_or(options.level);
    options.threads = line.number("--threads", 1, 256).value_or(0);
    return options;
}

std::vector<Entry> entries_from(const CommandLine& line) {
    std::optional<std::filesystem::path> dir;
    if (const auto given = line.value("--dir")) dir = *given;
    return collect_entries(line.required("--app"), dir);
}

}  // namespace kelvor
