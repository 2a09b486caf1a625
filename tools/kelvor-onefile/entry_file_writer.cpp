#include "entry_file_writer.h"

#include <algorithm>

#include "entry_names.h"
#include "interruption.h"
#include "text_encoding.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

// A checked name's parts hold no '/', no "." or "..", and none is empty, so joined part by
// part it stays below the root.
std::filesystem::path relative_path(const std::u16string& name) {
    std::filesystem::path path;
    for (size_t start = 0; start <= name.size();) {
        const size_t end = std::min(name.find(u'\\', start), name.size());
        path /= path_from_utf8(utf16_to_utf8(name.substr(start, end - start)));
        start = end + 1;
    }
    return path;
}

}  // namespace

EntryFileWriter::~EntryFileWriter() {
    if (file_ == kNoFile) return;
    TemporariesLock held;
    held.forget_open_file(file_);
    close_quietly(file_);
}

void EntryFileWriter::take(const ListedEntry& entry, const unsigned char* data, std::size_t count) {
    if (count == 0) {
        begin(entry);
        return;
    }
    TemporariesLock held;
    write_all(file_, data, count, path_);
}

void EntryFileWriter::begin(const ListedEntry& entry) {
    close_file();
    ++entries_;
    const std::string shown = "entry " + std::to_string(entries_) + " '" + utf16_to_utf8(entry.name) + "'";
    check_entry_name(entry.name, shown);
    path_ = root_ / relative_path(entry.name);
    // The root is a temporary directory that an interruption removes: what is made in it is
    // made under the lock, so the removal never runs while a name is being made.
    TemporariesLock held;
    std::error_code error;
    std::filesystem::create_directories(path_.parent_path(), error);
    const std::string failure = "cannot write " + shown + " as '" + utf8_of(path_) + "'";
    if (error) throw ToolError(failure + ": " + error.message());
    // A name that an earlier entry took, as a file or as a directory, is an error rather than
    // a replacement.
    file_ = create_new_file(path_, failure);
    held.record_open_file(file_);
}

void EntryFileWriter::close_file() {
    if (file_ == kNoFile) return;
    TemporariesLock held;
    const NativeFile file = file_;
    file_ = kNoFile;
    held.forget_open_file(file);
    kelvor::close_file(file, path_);
}

void EntryFileWriter::finish() { close_file(); }

}  // namespace kelvor
