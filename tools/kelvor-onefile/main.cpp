// kelvor-onefile: builds the payload of a single-file Windows launcher and inspects it.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "interruption.h"
#include "tool_error.h"
#include "utf8_paths.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char kHelp[] =
    "Usage: kelvor-onefile COMMAND [options]\n"
    "\n"
    "Turns a Windows application (a DLL that exports run_code, or an ordinary program, and the\n"
    "files beside it) into a single-file launcher.\n"
    "\n"
    "Commands:\n"
    "  build   turn an application into one executable\n"
    "  pack    write a payload block from an application DLL and a directory\n"
    "  list    check a payload block (or a built executable) and list its entries\n"
    "  extract write the files of a payload block (or a built executable) below a directory\n"
    "  embed   write the sources that place a payload and resources in a launcher\n"
    "\n"
    "  -h, --help     show this help ('kelvor-onefile COMMAND --help' for a command)\n"
    "  --version      show the version\n";

int dispatch(const std::string& command, const std::vector<std::string>& arguments) {
    if (command == "pack") return kelvor::run_pack(arguments);
    if (command == "list") return kelvor::run_list(arguments);
    if (command == "embed") return kelvor::run_embed(arguments);
    if (command == "build") return kelvor::run_build(arguments);
    if (command == "extract") return kelvor::run_extract(arguments);
    throw kelvor::UsageError("unknown command '" + command + "'");
}

// The arguments as UTF-8, as the tool holds all text.
int run_tool(const std::vector<std::string>& arguments) {
    kelvor::start_interruption_handling();
    if (arguments.empty()) {
        std::fputs(kHelp, stderr);
        return 2;
    }
    const std::string& command = arguments[0];
    if (command == "-h" || command == "--help") {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("kelvor-onefile %s\n", KELVOR_ONEFILE_VERSION);
        return 0;
    }
    try {
        return dispatch(command, std::vector<std::string>(arguments.begin() + 1, arguments.end()));
    } catch (const kelvor::UsageError& error) {
        std::fprintf(stderr, "kelvor-onefile: %s\nTry 'kelvor-onefile --help'.\n", error.what());
        return 2;
    } catch (const kelvor::ToolError& error) {
        std::fprintf(stderr, "kelvor-onefile: error: %s\n", error.what());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kelvor-onefile: error: %s\n", error.what());
        return 1;
    }
}

}  // namespace

#ifdef _WIN32
// The command line comes as UTF-16, which holds every name; the narrow argv would have it in
// the ANSI code page. Output is binary, as on POSIX: the same bytes, "\n" and all, whether
// they go to a file, a pipe or the console.
int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(kelvor::utf8_of(std::filesystem::path(std::wstring(argv[i]))));
    return run_tool(arguments);
}
#else
int main(int argc, char** argv) { return run_tool(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
