#include "tool_support.h"

#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <zstd.h>

extern char** environ;

namespace kelvor::testing {

namespace fs = std::filesystem;

ScratchDirectory::ScratchDirectory() {
    std::string pattern = (fs::temp_directory_path() / "kelvor-host-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    // Tests take permissions away from some files; give them back so removal succeeds.
    for (const auto& item : fs::recursive_directory_iterator(path_, ignored)) {
        fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

void write_file(const fs::path& path, const std::string& contents) {
    fs::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary);
    file << contents;
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::vector<unsigned char> read_bytes(const fs::path& path) {
    const std::string text = read_file(path);
    return std::vector<unsigned char>(text.begin(), text.end());
}

namespace {

std::string drain(int descriptor) {
    std::string text;
    char buffer[4096];
    ssize_t count;
    while ((count = read(descriptor, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(count));
    close(descriptor);
    return text;
}

}  // namespace

ToolRun run_tool(const std::vector<std::string>& arguments) {
    ScratchDirectory streams;
    const std::string out_path = (streams / "out").string();
    const std::string err_path = (streams / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> all{KELVOR_ONEFILE_TOOL_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start the tool");
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(child, &status, 0);
    ToolRun run;
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = drain(open(out_path.c_str(), O_RDONLY));
    run.err = drain(open(err_path.c_str(), O_RDONLY));
    return run;
}

std::string case_name(const char* label) {
    std::string name;
    for (const char* p = label; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

std::vector<unsigned char> decode_entry_stream(const std::vector<unsigned char>& block) {
    const unsigned char* frame = block.data() + 3;
    const size_t frame_size = ZSTD_findFrameCompressedSize(frame, block.size() - 3);
    if (ZSTD_isError(frame_size)) throw std::runtime_error("no frame");
    std::vector<unsigned char> decoded;
    ZSTD_DCtx* context = ZSTD_createDCtx();
    std::vector<unsigned char> piece(ZSTD_DStreamOutSize());
    ZSTD_inBuffer input{frame, frame_size, 0};
    size_t result = 1;
    while (result != 0) {
        ZSTD_outBuffer output{piece.data(), piece.size(), 0};
        result = ZSTD_decompressStream(context, &output, &input);
        if (ZSTD_isError(result)) {
            ZSTD_freeDCtx(context);
            throw std::runtime_error(ZSTD_getErrorName(result));
        }
        decoded.insert(decoded.end(), piece.begin(), piece.begin() + static_cast<long>(output.pos));
    }
    ZSTD_freeDCtx(context);
    return decoded;
}

}  // namespace kelvor::testing
