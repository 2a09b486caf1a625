#include "toolchain.h"

#include <iterator>

#include "atomic_output_file.h"
#include "interruption.h"
#include "launcher_linking.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

std::string find_program(const std::optional<std::string>& given, const std::vector<std::string>& names,
                         const char* what, const char* option) {
    if (given) {
        if (!on_path(*given)) throw ToolError(std::string(what) + " '" + *given + "' cannot be found");
        return *given;
    }
    for (const auto& name : names) {
        if (on_path(name)) return name;
    }
    throw ToolError(std::string("no ") + what + " on PATH (" + names.front() + "); install mingw-w64 or name one with " +
                    option);
}

// The compiler's own specs with the UCRT in place of its default runtime, as the launcher
// library was built.
std::filesystem::path write_ucrt_specs(const Toolchain& toolchain, const std::filesystem::path& work) {
    std::string specs = program_output("reading the compiler's specs", {toolchain.compiler, "-dumpspecs"});
    const std::string from = linking::kSpecsDefaultRuntime, to = linking::kSpecsUcrtRuntime;
    for (size_t at = specs.find(from); at != std::string::npos; at = specs.find(from, at + to.size())) {
        specs.replace(at, from.size(), to);
    }
    const auto path = work / path_from_utf8("ucrt.specs");
    TemporariesLock held;  // work is a temporary directory
    write_whole_file(path, specs.data(), specs.size());
    return path;
}

template <size_t count>
void append(std::vector<std::string>& command, const char* const (&flags)[count]) {
    command.insert(command.end(), std::begin(flags), std::end(flags));
}

}  // namespace

Toolchain find_toolchain(const std::optional<std::string>& compiler, const std::optional<std::string>& resource_compiler) {
    return {find_program(compiler, {std::begin(linking::kCxxCompilers), std::end(linking::kCxxCompilers)},
                         "cross compiler", "--cc"),
            find_program(resource_compiler, {linking::kResourceCompiler}, "resource compiler", "--windres")};
}

std::filesystem::path link_launcher(const Toolchain& toolchain, const std::filesystem::path& work,
                                    const std::filesystem::path& launcher_directory, Subsystem subsystem) {
    // The same compiler flags, link flags and order of inputs as a CMake build that links the
    // launcher library, so that both give the same bytes.
    std::vector<std::string> compile = {toolchain.compiler, "-specs=" + utf8_of(write_ucrt_specs(toolchain, work))};
    append(compile, linking::kUcrtCompileFlags);
    // windres hands its preprocessor's command line to a shell (popen) unless it is told to use
    // a temporary file, and even then splits that line at spaces and quotes itself. So it runs
    // in the working directory with names of the tool's own making, relative to it, and keeps
    // its temporary files there: no path of the user's, TMPDIR included, is ever in that line.
    run_program("compiling the resources",
                {toolchain.resource_compiler, "--use-temp-file", "-O", "coff", "-i", "resources.rc", "-o", "resources.o"},
                work);
    std::vector<std::string> assemble = compile;
    assemble.insert(assemble.end(), {"-c", utf8_of(work / path_from_utf8("image-data.S")), "-o", utf8_of(work / path_from_utf8("image-data.o"))});
    run_program("assembling the image data", assemble);

    const auto executable = work / path_from_utf8("out.exe");
    std::vector<std::string> link = compile;
    append(link, linking::kProgramLinkFlags);
    append(link, linking::kReproducibleLinkFlags);
    append(link, linking::kLauncherLinkFlags);
    if (subsystem == Subsystem::console) {
        append(link, linking::kConsoleSubsystemFlags);
        append(link, linking::kConsoleEntryFlags);
    } else {
        append(link, linking::kGuiSubsystemFlags);
        append(link, linking::kGuiEntryFlags);
    }
    link.insert(link.end(), {utf8_of(work / path_from_utf8("image-data.o")), utf8_of(work / path_from_utf8("resources.o")),
                             "-L" + utf8_of(launcher_directory)});
    for (const char* library : linking::kLauncherArchives) link.push_back(std::string("-l") + library);
    for (const char* library : linking::kLauncherSystemLibraries) link.push_back(std::string("-l") + library);
    link.insert(link.end(), {"-o", utf8_of(executable)});
    run_program("linking", link);
    return executable;
}

}  // namespace kelvor
