// The options that "pack" and "build" share: what goes into the payload and how it is packed.
#pragma once

#include <vector>

#include "command_line.h"
#include "entry_collection.h"
#include "payload_block_writer.h"

namespace kelvor {

// --level and --threads; the rest of PackOptions keeps its defaults.
PackOptions pack_options_from(const CommandLine& line);

// The entries of --app and --dir (see collect_entries).
std::vector<Entry> entries_from(const CommandLine& line);

}  // namespace kelvor
