// The executable's entry points, one for each subsystem: the processor check, then the
// runtime's own start-up, which runs the static initialisers and calls wWinMain. The linker is
// told to start here (KELVOR_GUI_SUBSYSTEM_FLAGS, KELVOR_CONSOLE_SUBSYSTEM_FLAGS), so nothing
// compiled for the launcher's processor level runs before the check: this file, the check and
// the error reporting are compiled for plain x86-64, and what runs earlier (the loader, the
// system DLLs, the runtime's TLS callback) is not ours. The runtime is not started yet, but the
// UCRT's streams and exit work from the moment its DLL is loaded.
#include <stdio.h>

#include "bootstrap/error_reporting.h"
#include "bootstrap/messages.h"
#include "startup/processor_features.h"

namespace {

// Ends the run with the message and exit code 2 when the processor lacks a required feature.
void check_processor() {
    const uint64_t missing = missing_processor_features(required_processor_features, read_processor_ids());
    if (missing == 0) return;
    char names[512];
    describe_processor_features(missing, names, sizeof names);
    char message[sizeof names + sizeof format_processor_missing];
    snprintf(message, sizeof message, format_processor_missing, names);
    exit_with_message(message);
}

}  // namespace

extern "C" {
int mainCRTStartup(void);
int WinMainCRTStartup(void);

int kelvor_console_start(void) {
    check_processor();
    return mainCRTStartup();
}

int kelvor_gui_start(void) {
    check_processor();
    return WinMainCRTStartup();
}
}
