#include "atomic_output_file.h"

#include "interruption.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

AtomicOutputFile::AtomicOutputFile(const std::filesystem::path& target, Mode mode) : target_(target), mode_(mode) {
    TemporariesLock held;
    file_ = create_file_beside(target, temporary_);
    held.record(temporary_);
    held.record_open_file(file_);
}

AtomicOutputFile::~AtomicOutputFile() {
    TemporariesLock held;
    if (file_ != kNoFile) {
        held.forget_open_file(file_);
        close_quietly(file_);
    }
    if (temporary_.empty()) return;
    remove_file_quietly(temporary_);
    held.forget(temporary_);
}

void write_whole_file(const std::filesystem::path& path, const void* data, std::size_t count) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    const NativeFile file = create_new_file(path, "cannot write '" + utf8_of(path) + "'");
    try {
        write_all(file, data, count, path);
    } catch (...) {
        close_quietly(file);
        throw;
    }
    close_file(file, path);
}

void AtomicOutputFile::write(const void* data, std::size_t count) {
    TemporariesLock held;
    write_all(file_, data, count, target_);
}

void AtomicOutputFile::commit() {
    give_usual_mode(file_, mode_ == Mode::executable, target_);
    TemporariesLock held;
    const NativeFile file = file_;
    file_ = kNoFile;
    held.forget_open_file(file);
    close_file(file, target_);
    rename_file_over(temporary_, target_);
    held.forget(temporary_);
    temporary_.clear();
}

}  // namespace kelvor
