#include "pack_options.h"

#include <zstd.h>

#include "application_dll.h"
#include "payload/payload_format.h"
#include "tool_error.h"
#include "tool_paths.h"

namespace kelvor {

OptionTable input_options() {
    return {
        {{"--app"}, "APP.dll", "the application DLL, which exports run_code (64-bit)"},
        {{"--exe"}, "PROGRAM.exe", "or an ordinary program (64-bit): its path relative to DIR"},
        {{"--dir"}, "DIR", "the files that ship beside it (a DLL inside DIR is packed once)"},
    };
}

OptionTable pack_tuning_options() {
    return {
        {{"--level"}, "N", "zstd compression level (default " + std::to_string(PackOptions{}.level) + ")"},
        {{"--threads"}, "N", "compression threads (default: one per core)"},
        {{"--window-log"}, "N",
         "window of 2^N bytes, " + std::to_string(ZSTD_WINDOWLOG_MIN) + " to " +
             std::to_string(payload_format::max_window_log) +
             " (default: the smallest that holds\nthe whole payload, at most 2^" +
             std::to_string(default_window_log_limit) + ": a larger window decodes slower)"},
        {{"--no-content-size"}, "", "leave the decoded size out of the frame header"},
    };
}

PackOptions pack_options_from(const CommandLine& line) {
    PackOptions options;
    options.level = line.number("--level", ZSTD_minCLevel(), ZSTD_maxCLevel()).value_or(options.level);
    options.record_content_size = !line.has("--no-content-size");
    options.threads = line.number("--threads", 1, 256).value_or(0);
    options.window_log = line.number("--window-log", ZSTD_WINDOWLOG_MIN, payload_format::max_window_log);
    return options;
}

namespace {

// The output may replace none of the files that are packed: those below --dir too, whatever
// name they are found under.
void check_output_against(const std::filesystem::path& output, std::vector<InputPath> inputs, const std::vector<Entry>& entries,
                          size_t first_from_dir) {
    for (size_t i = first_from_dir; i < entries.size(); ++i) inputs.push_back({"--dir", entries[i].source, true});
    check_output_placement(output, inputs);
}

// --exe PROGRAM: the runner DLL first, then the files of --dir, the program among them.
std::vector<Entry> program_entries_from(const CommandLine& line, const std::filesystem::path& program,
                                        const std::filesystem::path& output, std::vector<InputPath> inputs) {
    const auto dir = line.path("--dir");
    if (!dir) throw UsageError(line.command() + ": --exe needs --dir, the directory that holds the program");
    const auto runner = runner_dll(launcher_directory(line.value("--launcher-dir")));
    inputs.insert(inputs.begin(), {{"--dir", *dir}, {"--launcher-dir", runner}});
    auto entries = collect_program_entries(runner, program, *dir);
    check_output_against(output, std::move(inputs), entries, 1);
    check_application_program(*dir / program);
    return entries;
}

}  // namespace

std::vector<Entry> entries_from(const CommandLine& line, const std::filesystem::path& output,
                                std::vector<InputPath> other_inputs) {
    const auto [option, first] = line.one_of("--app", "--exe");
    if (option == "--exe") return program_entries_from(line, path_from_utf8(first), output, std::move(other_inputs));
    const auto app = path_from_utf8(first);
    const auto dir = line.path("--dir");
    std::vector<InputPath> inputs = {{"--app", app}};
    if (dir) inputs.push_back({"--dir", *dir});
    inputs.insert(inputs.end(), other_inputs.begin(), other_inputs.end());
    auto entries = collect_entries(app, dir);
    check_output_against(output, std::move(inputs), entries, 1);
    check_application_dll(app);
    return entries;
}

}  // namespace kelvor
