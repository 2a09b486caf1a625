#include "pack_options.h"

#include <zstd.h>

#include "application_dll.h"
#include "payload/payload_format.h"

namespace kelvor {

PackOptions pack_options_from(const CommandLine& line) {
    PackOptions options;
    options.level = line.number("--level", ZSTD_minCLevel(), ZSTD_maxCLevel()).value_or(options.level);
    options.threads = line.number("--threads", 1, 256).value_or(0);
    options.window_log = line.number("--window-log", ZSTD_WINDOWLOG_MIN, payload_format::max_window_log);
    return options;
}

std::vector<Entry> entries_from(const CommandLine& line, const std::string& output,
                                std::vector<InputPath> other_inputs) {
    const std::string app = line.required("--app");
    std::optional<std::filesystem::path> dir;
    if (const auto given = line.value("--dir")) dir = *given;
    std::vector<InputPath> inputs = {{"--app", app}};
    if (dir) inputs.push_back({"--dir", *dir});
    inputs.insert(inputs.end(), other_inputs.begin(), other_inputs.end());
    check_output_placement(output, inputs);
    auto entries = collect_entries(app, dir);
    check_application_dll(app);
    return entries;
}

}  // namespace kelvor
