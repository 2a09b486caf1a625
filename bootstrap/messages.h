// Every message the launcher writes. Each begins with "Error, "; the formats carry their own
// line feed, the plain messages get one when they are written.
#pragma once

// Plain messages, on standard output.
constexpr char message_register_handler[] = "Error, failed to register signal handler.";
constexpr char message_no_header[] = "Error, couldn't find attached data header.";
constexpr char message_no_memory[] = "Error, couldn't allocate memory.";
constexpr char message_decode[] = "Error, couldn't decode attached data.";
constexpr char message_no_entry_point[] = "Error, DLL entry point not found.";
// With the features the processor lacks, as a plain message on standard output.
constexpr char format_processor_missing[] = "Error, this program needs a processor with %s.";

// Formats with one wide-string argument, on standard error.
constexpr char format_template_failed[] = "Error, couldn't runtime expand spec '%ls'.\n";
constexpr char format_open_failed[] = "Error, failed to open '%ls' for writing.\n";

// Messages that carry a Windows error code, on standard error.
constexpr char message_unpack_failed[] = "Error, couldn't unpack file to target path.";
constexpr char message_load_failed[] = "Error, load DLL.";
constexpr char message_launch_failed[] = "Error, couldn't launch child";
// The runner's (an ordinary program packed with its runner DLL).
constexpr char message_program_launch_failed[] = "Error, couldn't launch program";
constexpr char message_runner_name[] = "Error, the runner's name names no program.";
