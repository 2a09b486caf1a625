#include <cstdio>
#include <fstream>
#include <iterator>

#include "atomic_output_file.h"
#include "build_options.h"
#include "command_line.h"
#include "commands.h"
#include "entry_collection.h"
#include "icon_set.h"
#include "image_sources.h"
#include "payload/payload_format.h"
#include "payload_block_writer.h"
#include "temporary_directory.h"
#include "tool_error.h"
#include "tool_paths.h"
#include "toolchain.h"
#include <zstd.h>

namespace kelvor {

namespace {

const char kBuildHelp[] =
    "Usage: kelvor-onefile build --app APP.dll [--dir DIR] -o App.exe [options]\n"
    "\n"
    "Turns an application into one Windows executable: packs the DLL and the files below DIR,\n"
    "writes the version resource, icons and manifest, and links them with the launcher library\n"
    "using the mingw-w64 cross toolchain.\n"
    "\n"
    "  --app APP.dll              the application DLL, which exports run_code\n"
    "  --dir DIR                  the files that ship beside it\n"
    "  -o, --output App.exe       the executable to write\n";

const char kBuildToolHelp[] =
    "  --level N                  zstd compression level (default 19)\n"
    "  --threads N                compression threads (default: one per core)\n"
    "  --launcher-dir DIR         the launcher library (default: lib/kelvor-onefile beside bin/)\n"
    "  --cc PROGRAM               the cross compiler (default x86_64-w64-mingw32-g++-posix on PATH)\n"
    "  --windres PROGRAM          the resource compiler (default x86_64-w64-mingw32-windres)\n"
    "  -h, --help                 show this help\n";

std::vector<unsigned char> read_bytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.eof() && !file) throw ToolError("cannot read '" + path.string() + "'");
    return bytes;
}

// The PE header's time stamp, from the inputs rather than the clock (FNV-1a over the payload,
// the icons, the manifest and the strings), so the same inputs give the same executable.
void stamp_from_inputs(std::vector<unsigned char>& image, const std::vector<std::filesystem::path>& files,
                       const BuildStrings& strings) {
    std::uint32_t hash = 2166136261u;
    auto mix = [&hash](unsigned char byte) { hash = (hash ^ byte) * 16777619u; };
    for (const auto& file : files) {
        for (const unsigned char byte : read_bytes(file)) mix(byte);
    }
    for (const std::string* text : {&strings.company, &strings.product, &strings.version, &strings.product_version,
                                    &strings.description, &strings.file_name, &strings.path_template}) {
        for (const char c : *text) mix(static_cast<unsigned char>(c));
        mix(0);
    }
    if (image.size() < 0x40) throw ToolError("the linker wrote no PE image");
    const std::uint32_t header = image[0x3C] | image[0x3D] << 8 | image[0x3E] << 16 | static_cast<std::uint32_t>(image[0x3F]) << 24;
    const size_t stamp = header + 8;  // after "PE\0\0", the machine and the section count
    if (stamp + 4 > image.size()) throw ToolError("the linker wrote no PE image");
    for (int i = 0; i < 4; ++i) image[stamp + i] = static_cast<unsigned char>(hash >> (8 * i));
}

std::filesystem::path launcher_directory(const CommandLine& line) {
    const std::filesystem::path directory =
        line.value("--launcher-dir") ? std::filesystem::path(*line.value("--launcher-dir"))
                                     : installation_path("lib/kelvor-onefile");
    for (const char* library : {"libkelvor_launcher_core.a", "libkelvor_zstd_decompress.a"}) {
        if (!std::filesystem::exists(directory / library)) {
            throw ToolError("the launcher library is not in '" + directory.string() + "' (" + library +
                            "); name its directory with --launcher-dir");
        }
    }
    return directory;
}

}  // namespace

int run_build(const std::vector<std::string>& arguments) {
    std::set<std::string> value_options = {"--app", "--dir", "-o", "--output", "--level", "--threads",
                                           "--launcher-dir", "--cc", "--windres"};
    value_options.insert(kBuildStringOptions.begin(), kBuildStringOptions.end());
    const CommandLine line("build", arguments, value_options, {"-h", "--help"});
    if (line.has("-h") || line.has("--help")) {
        std::printf("%s%s%s", kBuildHelp, kBuildStringOptionsHelp, kBuildToolHelp);
        return 0;
    }
    if (!line.positional().empty()) throw UsageError("build: unexpected argument '" + line.positional()[0] + "'");
    const std::string output = line.value("-o") ? *line.value("-o") : line.required("--output");
    PackOptions pack;
    pack.level = line.number("--level", ZSTD_minCLevel(), ZSTD_maxCLevel()).value_or(pack.level);
    pack.threads = line.number("--threads", 1, 256).value_or(0);

    // Everything that can be wrong with the inputs is found before the long packing starts.
    const BuildStrings strings = build_strings_from(line, output);
    check_build_strings(strings);
    const auto icon = icon_option(line);
    read_icon_set(icon ? *icon : installation_path("share/kelvor-onefile/icons"));
    std::optional<std::filesystem::path> dir;
    if (const auto given = line.value("--dir")) dir = *given;
    const auto entries = collect_entries(line.required("--app"), dir);
    const Toolchain toolchain = find_toolchain(line.value("--cc"), line.value("--windres"));
    const auto library = launcher_directory(line);

    TemporaryDirectory work;
    const auto payload = work.path() / "payload.bin";
    {
        AtomicOutputFile file(payload);
        write_payload_block(entries, pack, [&file](const void* data, size_t count) { file.write(data, count); });
        file.commit();
    }
    write_image_sources(work.path(), payload, strings, icon);
    auto image = read_bytes(link_launcher(toolchain, work.path(), library));
    stamp_from_inputs(image, {payload, work.path() / "icon.ico", work.path() / "application.manifest"}, strings);

    AtomicOutputFile executable(output);
    executable.write(image.data(), image.size());
    executable.commit();
    std::printf("%s: %zu entries, %zu bytes\n", output.c_str(), entries.size(), image.size());
    return 0;
}

}  // namespace kelvor
