#include "temporary_directory.h"

#include <string>

#include "interruption.h"
#include "native_files.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

TemporaryDirectory::TemporaryDirectory() {
    make(std::filesystem::temp_directory_path() / path_from_utf8("kelvor-onefile-"));
}

TemporaryDirectory::TemporaryDirectory(const std::filesystem::path& target) {
    make(target.native() + path_from_utf8(".tmp-").native());
}

void TemporaryDirectory::make(const std::filesystem::path& prefix) {
    TemporariesLock held;
    path_ = make_directory_named(prefix);
    held.record(path_);
}

TemporaryDirectory::~TemporaryDirectory() {
    if (path_.empty()) return;
    TemporariesLock held;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    held.forget(path_);
}

void TemporaryDirectory::rename_to(const std::filesystem::path& target) {
    give_usual_directory_mode(path_);
    TemporariesLock held;
    rename_directory(path_, target);
    held.forget(path_);
    path_.clear();
}

}  // namespace kelvor
