// The temporaries of a run and their removal, shared by both systems' ways of being
// interrupted.
#include "interruption.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "interruption_cleanup.h"

namespace kelvor {

namespace {

// Made once and never destroyed: the clean-up may still use them while the process exits.
struct Temporaries {
    std::mutex lock;
    std::vector<std::filesystem::path> paths;
    std::vector<NativeFile> open_files;
    ChildProcess child{};
};

Temporaries& temporaries() {
    static Temporaries* const shared = new Temporaries;
    return *shared;
}

}  // namespace

void remove_temporaries(void (*end_child)(ChildProcess child, int how), int how) {
    Temporaries& shared = temporaries();
    shared.lock.lock();  // kept until the end
    if (shared.child != ChildProcess{}) end_child(shared.child, how);
    for (const NativeFile file : shared.open_files) close_quietly(file);
    for (auto path = shared.paths.rbegin(); path != shared.paths.rend(); ++path) {
        std::error_code ignored;
        std::filesystem::remove_all(*path, ignored);
    }
}

TemporariesLock::TemporariesLock() { temporaries().lock.lock(); }

TemporariesLock::~TemporariesLock() { temporaries().lock.unlock(); }

void TemporariesLock::record(const std::filesystem::path& path) { temporaries().paths.push_back(path); }

void TemporariesLock::forget(const std::filesystem::path& path) {
    auto& paths = temporaries().paths;
    paths.erase(std::remove(paths.begin(), paths.end(), path), paths.end());
}

void TemporariesLock::record_open_file(NativeFile file) { temporaries().open_files.push_back(file); }

void TemporariesLock::forget_open_file(NativeFile file) {
    auto& files = temporaries().open_files;
    files.erase(std::remove(files.begin(), files.end(), file), files.end());
}

void TemporariesLock::record_child(ChildProcess child) { temporaries().child = child; }

void TemporariesLock::forget_child() { temporaries().child = ChildProcess{}; }

}  // namespace kelvor
