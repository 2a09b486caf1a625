// The options that "pack" and "build" share: what goes into the payload and how it is packed.
#pragma once

#include <vector>

#include "command_line.h"
#include "entry_collection.h"
#include "output_placement.h"
#include "payload_block_writer.h"

namespace kelvor {

// --app, --exe and --dir, which entries_from reads.
OptionTable input_options();
// --level, --threads and --window-log, with their defaults and limits in their help.
OptionTable pack_tuning_options();
// Their values; the rest of PackOptions keeps its defaults.
PackOptions pack_options_from(const CommandLine& line);

// The entries of --app and --dir (see collect_entries), once the output has been checked
// against them, every file below --dir included, and against other_inputs (see
// check_output_placement) and --app has been
// checked as the application DLL (see check_application_dll); or, with --exe instead of --app,
// the runner DLL from --launcher-dir (or the installation's) and the files of --dir, once
// --exe has been checked as a program (see collect_program_entries and
// check_application_program). Throws ToolError, and UsageError for --app with --exe, neither,
// or --exe without --dir.
std::vector<Entry> entries_from(const CommandLine& line, const std::filesystem::path& output,
                                std::vector<InputPath> other_inputs = {});

}  // namespace kelvor
