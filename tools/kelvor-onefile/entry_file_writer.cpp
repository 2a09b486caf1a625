#include "entry_file_writer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "atomic_output_file.h"
#include "entry_names.h"
#include "interruption.h"
#include "text_encoding.h"
#include "tool_error.h"

namespace kelvor {

namespace {

// A checked name's parts hold no '/', no "." or "..", and none is empty, so with its
// backslashes turned into slashes it stays below the root.
std::filesystem::path host_path(const std::u16string& name) {
    std::string path = utf16_to_utf8(name);
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

}  // namespace

EntryFileWriter::~EntryFileWriter() {
    if (descriptor_ >= 0) close(descriptor_);
}

void EntryFileWriter::take(const ListedEntry& entry, const unsigned char* data, std::size_t count) {
    if (count == 0) {
        begin(entry);
        return;
    }
    write_all(descriptor_, data, count, path_);
}

void EntryFileWriter::begin(const ListedEntry& entry) {
    close_file();
    ++entries_;
    const std::string shown = "entry " + std::to_string(entries_) + " '" + utf16_to_utf8(entry.name) + "'";
    check_entry_name(entry.name, shown);
    path_ = root_ / host_path(entry.name);
    // The root is a temporary directory that an interruption removes: what is made in it is
    // made under the lock, so the removal never runs while a name is being made.
    TemporariesLock held;
    std::error_code error;
    std::filesystem::create_directories(path_.parent_path(), error);
    // O_EXCL: a name that an earlier entry took, as a file or as a directory, is an error
    // rather than a replacement. O_NOFOLLOW: nothing below the root is a link, and never
    // will be followed.
    if (!error) descriptor_ = open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (error || descriptor_ < 0) {
        const std::string reason = error ? error.message() : std::strerror(errno);
        throw ToolError("cannot write " + shown + " as '" + path_.string() + "': " + reason);
    }
}

void EntryFileWriter::close_file() {
    if (descriptor_ < 0) return;
    const int descriptor = descriptor_;
    descriptor_ = -1;
    if (close(descriptor) != 0) throw ToolError("cannot write '" + path_.string() + "': " + std::strerror(errno));
}

void EntryFileWriter::finish() { close_file(); }

}  // namespace kelvor
