// The tool's file operations that differ between POSIX and Windows, behind one interface
// (native_files_posix.cpp, native_files_windows.cpp): opening inputs, creating outputs and
// working files, renaming them into place, and telling files apart whatever their names. Paths
// are std::filesystem paths, wide on Windows, so every name reaches the system as it is. A
// failure throws ToolError ending in the system's reason, in the words the C library uses for
// it on both systems ("No such file or directory").
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace kelvor {

// A descriptor on POSIX, a HANDLE on Windows.
using NativeFile = std::intptr_t;
inline constexpr NativeFile kNoFile = -1;

// A regular file opened for reading, and its size at that moment. Whatever the path names is
// looked at before it is opened, so no device is ever opened. Throws "cannot read '<path>':
// <reason>" or "'<path>' is not a regular file".
NativeFile open_regular_file(const std::filesystem::path& path, std::uint64_t& size);

// At most count bytes, from offset or else from where the last read ended; 0 at the end.
// Throws "cannot read '<path>': <reason>".
std::size_t read_file(NativeFile file, const std::filesystem::path& path, void* buffer, std::size_t count,
                      std::optional<std::uint64_t> offset = std::nullopt);

// A file made new at path, never one that was there, and never through a link. Throws
// "<failure>: <reason>".
NativeFile create_new_file(const std::filesystem::path& path, const std::string& failure);

// A new private file <target>.tmp-XXXXXX beside target, whose name is stored in made. Throws
// "cannot write '<target>': <reason>".
NativeFile create_file_beside(const std::filesystem::path& target, std::filesystem::path& made);

// A new private directory <prefix>XXXXXX (the path prefix, then six characters). Throws
// "cannot make a working directory '<prefix>XXXXXX': <reason>".
std::filesystem::path make_directory_named(const std::filesystem::path& prefix);

// Writes all count bytes; throws "cannot write '<path>': <reason>".
void write_all(NativeFile file, const void* data, std::size_t count, const std::filesystem::path& path);

// Closes the file; a failing close, which may lose written data, throws "cannot write '<path>':
// <reason>". close_quietly is for files that are given up.
void close_file(NativeFile file, const std::filesystem::path& path);
void close_quietly(NativeFile file);

// The mode that creating the file would have given it (0644, or 0755 for an executable, under
// the common umask); private working files are made 0600. Nothing to do on Windows.
void give_usual_mode(NativeFile file, bool executable, const std::filesystem::path& path);
void give_usual_directory_mode(const std::filesystem::path& directory);

// Renames a finished file over target; throws "cannot write '<target>': <reason>".
void rename_file_over(const std::filesystem::path& file, const std::filesystem::path& target);

// Renames a directory to target, which must not exist or be an empty directory; throws
// "cannot write '<target>': <reason>".
void rename_directory(const std::filesystem::path& directory, const std::filesystem::path& target);

void remove_file_quietly(const std::filesystem::path& path);

// A file as the system knows it, whatever its name: device and inode, or volume and file
// index.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    bool directory = false;
    bool operator==(const FileIdentity& other) const { return device == other.device && file == other.file; }
};

// What the path names, links followed; nothing for a path that names nothing.
std::optional<FileIdentity> identity_of(const std::filesystem::path& path);

// Whether the directory that will hold output is directory or lies below it, however the
// output's path reaches it (through links or mounts).
bool lies_inside(const std::filesystem::path& output, const FileIdentity& directory);

// The running tool's own executable file.
std::filesystem::path own_executable();

}  // namespace kelvor
