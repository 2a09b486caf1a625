// Helpers for the host tests: a scratch directory that is removed afterwards, files in it,
// and a way to run the real kelvor-onefile binary and see what a user sees.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kelvor::testing {

class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const std::string& contents);
std::string read_file(const std::filesystem::path& path);
std::vector<unsigned char> read_bytes(const std::filesystem::path& path);

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs kelvor-onefile with these arguments, stdin closed, and captures both streams. A run
// that takes longer than a minute is killed and reported as exit code -1.
ToolRun run_tool(const std::vector<std::string>& arguments);

// The same, with the command put in front of the tool (such as setpriv, to drop privileges).
ToolRun run_tool_under(const std::vector<std::string>& command, const std::vector<std::string>& arguments);

// Root reads whatever the permissions say, so as root the tool is run as nobody: this is the
// command to put in front of it (setpriv, dropping the user, groups and capabilities), empty for
// a user who is not root, and nothing as root without setpriv. What the tool must reach then
// needs permissions for others.
std::optional<std::vector<std::string>> as_unprivileged_user();

// Starts the tool with the signals at their defaults (a caller may have ignored some, which
// the tool keeps), its standard streams on /dev/null and TMPDIR set to temporary; returns its
// process id, or -1.
pid_t start_tool(const std::vector<std::string>& arguments, const std::filesystem::path& temporary);

// A small 64-bit Windows DLL image: the headers and one section with an export table that
// names the exports. Its fields can be changed to make images the launcher cannot load.
struct DllShape {
    std::uint16_t machine = 0x8664;          // x86-64
    std::uint16_t magic = 0x20B;             // PE32+
    std::uint16_t characteristics = 0x2022;  // executable, large-address aware, DLL
    std::vector<std::string> exports = {"run_code"};
    std::uint16_t subsystem = 2;  // GUI
    std::string data;             // after the exports, in the same section
};
std::string dll_image(const DllShape& shape = {});

// A stand-in for a prebuilt launcher: an executable of dll_image's shape, with no exports,
// that carries the launcher identity of a version (by default the tool's own).
std::string launcher_image(bool console = false, const std::string& version = KELVOR_ONEFILE_VERSION);
// The stand-ins of both subsystems where "build" looks for the default processor level's.
void write_prebuilt_launchers(const std::filesystem::path& launcher_directory);

// PNG images made by hand: a chunk (its CRC left zero: the tool never reads it), IHDR of an
// 8-bit RGBA image, the signature followed by chunks, and a whole image whose data is
// data_bytes zero bytes, deflated (by default the bytes its header declares).
using Bytes = std::vector<unsigned char>;
Bytes png_chunk(const std::string& type, const Bytes& data);
Bytes png_ihdr(unsigned width, unsigned height);
Bytes png_of_chunks(std::initializer_list<Bytes> chunks);
Bytes png_image(unsigned width, unsigned height, std::uint64_t data_bytes = 0);

// A GoogleTest parameter name made from a case's label.
std::string case_name(const char* label);

// Payload blocks made by hand, for what the packer refuses to make: an entry's bytes (its
// name, size and data), the end marker, and a block around a whole entry stream, laid out as
// the packer lays it out, with or without the frame's content checksum.
std::vector<unsigned char> entry(const std::u16string& name, const std::string& data);
inline std::vector<unsigned char> end_marker() { return {0, 0}; }
std::vector<unsigned char> concat(std::initializer_list<std::vector<unsigned char>> parts);
std::vector<unsigned char> block_of(const std::vector<unsigned char>& stream, bool checksum = false);

// A block with its content checksum holding these entries and the end marker.
std::vector<unsigned char> block_of_entries(std::initializer_list<std::vector<unsigned char>> entries);
void write_bytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes);

// Every path below root, files with their size and time, to see that a refused run changed
// nothing and left nothing.
using Snapshot = std::map<std::filesystem::path, std::pair<std::uintmax_t, std::filesystem::file_time_type>>;
Snapshot snapshot(const std::filesystem::path& root);

// The entry stream inside a payload block, decoded independently of the tool's reader.
std::vector<unsigned char> decode_entry_stream(const std::vector<unsigned char>& block);

}  // namespace kelvor::testing
