#include "tool_support.h"

#include "launcher_linking.h"

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include "little_endian.h"
#include "payload/image_data_layout.h"
#include "payload_layout.h"

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

ToolRun run_tool_under(const std::vector<std::string>& command, const std::vector<std::string>& arguments) {
    ScratchDirectory streams;
    const std::string out_path = (streams / "out").string();
    const std::string err_path = (streams / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<std::string> all = command;
    all.push_back(KELVOR_ONEFILE_TOOL_PATH);
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start the tool");
    }
    posix_spawn_file_actions_destroy(&actions);
    ToolRun run;
    int status = 0;
    // A run that hangs (on a FIFO, say) fails the test rather than holding it up.
    for (int waited_ms = 0; waitpid(child, &status, WNOHANG) == 0; waited_ms += 10) {
        if (waited_ms >= 60000) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            status = -1;
            break;
        }
        usleep(10000);
    }
    run.exit_code = status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = drain(open(out_path.c_str(), O_RDONLY));
    run.err = drain(open(err_path.c_str(), O_RDONLY));
    return run;
}

ToolRun run_tool(const std::vector<std::string>& arguments) { return run_tool_under({}, arguments); }

std::optional<std::vector<std::string>> as_unprivileged_user() {
    if (geteuid() != 0) return std::vector<std::string>{};
    if (access("/usr/bin/setpriv", X_OK) != 0) return std::nullopt;
    return std::vector<std::string>{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
}

pid_t start_tool(const std::vector<std::string>& arguments, const fs::path& temporary) {
    std::vector<std::string> all{KELVOR_ONEFILE_TOOL_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : all) argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables{"TMPDIR=" + temporary.string()};
    for (char** variable = environ; *variable; ++variable) {
        if (std::string(*variable).rfind("TMPDIR=", 0) != 0) variables.push_back(*variable);
    }
    std::vector<char*> envp;
    for (auto& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal_number);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const int stream : {0, 1, 2}) posix_spawn_file_actions_addopen(&actions, stream, "/dev/null", O_RDWR, 0);
    pid_t tool = 0;
    const int started = posix_spawn(&tool, argv[0], &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return started == 0 ? tool : -1;
}

namespace {

void put(std::string& image, size_t at, std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i) image[at + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

std::string dll_image(const DllShape& shape) {
    constexpr size_t pe = 0x40, optional = pe + 24, optional_size = 240, section_table = optional + optional_size;
    constexpr size_t raw = 0x200, rva = 0x1000;
    const size_t n = shape.exports.size();
    // The export section: directory, address table, name table, ordinal table, names.
    const size_t functions = 40, names = functions + 4 * n, ordinals = names + 4 * n;
    std::string section(ordinals + 2 * n, '\0');
    put(section, 20, n, 4);
    put(section, 24, n, 4);
    put(section, 28, rva + functions, 4);
    put(section, 32, rva + names, 4);
    put(section, 36, rva + ordinals, 4);
    for (size_t i = 0; i < n; ++i) {
        put(section, functions + 4 * i, 0x2000 + 16 * i, 4);
        put(section, names + 4 * i, rva + section.size(), 4);
        put(section, ordinals + 2 * i, i, 2);
        section += shape.exports[i] + '\0';
    }
    section += shape.data;
    const size_t raw_size = (section.size() + 0x1FF) & ~size_t{0x1FF};
    section.resize(raw_size, '\0');

    std::string image(raw, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    put(image, 0x3C, pe, 4);
    image.replace(pe, 4, std::string("PE\0\0", 4));
    put(image, pe + 4, shape.machine, 2);
    put(image, pe + 6, 1, 2);  // one section
    put(image, pe + 20, optional_size, 2);
    put(image, pe + 22, shape.characteristics, 2);
    put(image, optional, shape.magic, 2);
    put(image, optional + 24, 0x180000000, 8);  // image base
    put(image, optional + 32, 0x1000, 4);       // section alignment
    put(image, optional + 36, 0x200, 4);        // file alignment
    put(image, optional + 56, rva + 0x2000, 4);  // image size
    put(image, optional + 60, raw, 4);          // header size
    put(image, optional + 68, shape.subsystem, 2);
    put(image, optional + 108, 16, 4);          // data directories
    if (n > 0) {
        put(image, optional + 112, rva, 4);
        put(image, optional + 116, section.size(), 4);
    }
    image.replace(section_table, 6, ".edata");
    put(image, section_table + 8, section.size(), 4);
    put(image, section_table + 12, rva, 4);
    put(image, section_table + 16, raw_size, 4);
    put(image, section_table + 20, raw, 4);
    put(image, section_table + 36, 0x40000040, 4);  // initialised data, readable
    return image + section;
}

std::string launcher_image(bool console, const std::string& version) {
    DllShape shape;
    shape.characteristics = 0x0022;  // executable, large-address aware
    shape.exports.clear();
    shape.subsystem = console ? 3 : 2;
    shape.data = KELVOR_LAUNCHER_IDENTITY_PREFIX + version + '\0';
    return dll_image(shape);
}

void write_prebuilt_launchers(const fs::path& launcher_directory) {
    write_file(launcher_directory / linking::kDefaultCpu / linking::kPrebuiltGuiLauncher, launcher_image());
    write_file(launcher_directory / linking::kDefaultCpu / linking::kPrebuiltConsoleLauncher, launcher_image(true));
}

Bytes png_chunk(const std::string& type, const Bytes& data) {
    Bytes bytes(12 + data.size(), 0);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(data.size() >> (24 - 8 * i));
    std::copy(type.begin(), type.end(), bytes.begin() + 4);
    std::copy(data.begin(), data.end(), bytes.begin() + 8);
    return bytes;
}

Bytes png_ihdr(unsigned width, unsigned height) {
    return png_chunk("IHDR", {0, 0, static_cast<unsigned char>(width >> 8), static_cast<unsigned char>(width), 0, 0,
                              static_cast<unsigned char>(height >> 8), static_cast<unsigned char>(height), 8, 6, 0, 0,
                              0});
}

Bytes png_of_chunks(std::initializer_list<Bytes> chunks) {
    Bytes bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const auto& part : chunks) bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

// Deflated a piece at a time, so that hundreds of megabytes of data never need to be held.
Bytes png_image(unsigned width, unsigned height, std::uint64_t data_bytes) {
    if (data_bytes == 0) data_bytes = std::uint64_t{height} * (1 + 4 * width);
    z_stream stream{};
    deflateInit(&stream, Z_BEST_COMPRESSION);
    const Bytes zeros(1 << 20, 0);
    Bytes deflated, piece(1 << 16);
    for (std::uint64_t left = data_bytes;;) {
        const auto now = static_cast<uInt>(std::min<std::uint64_t>(left, zeros.size()));
        stream.next_in = const_cast<unsigned char*>(zeros.data());
        stream.avail_in = now;
        left -= now;
        int result;
        do {
            stream.next_out = piece.data();
            stream.avail_out = static_cast<uInt>(piece.size());
            result = deflate(&stream, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            deflated.insert(deflated.end(), piece.begin(), piece.end() - stream.avail_out);
        } while (stream.avail_out == 0);
        if (result == Z_STREAM_END) break;
    }
    deflateEnd(&stream);
    return png_of_chunks({png_ihdr(width, height), png_chunk("IDAT", deflated), png_chunk("IEND", {})});
}

std::string case_name(const char* label) {
    std::string name;
    for (const char* p = label; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

std::vector<unsigned char> entry(const std::u16string& name, const std::string& data) {
    const std::string bytes = entry_bytes(name, data);
    return {bytes.begin(), bytes.end()};
}

std::vector<unsigned char> concat(std::initializer_list<std::vector<unsigned char>> parts) {
    std::vector<unsigned char> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<unsigned char> block_of(const std::vector<unsigned char>& stream, bool checksum) {
    std::vector<unsigned char> frame(ZSTD_compressBound(stream.size()));
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, checksum ? 1 : 0);
    frame.resize(ZSTD_compress2(context, frame.data(), frame.size(), stream.data(), stream.size()));
    ZSTD_freeCCtx(context);
    const std::string block = payload_block(std::string(frame.begin(), frame.end()));
    return {block.begin(), block.end()};
}

std::vector<unsigned char> block_of_entries(std::initializer_list<std::vector<unsigned char>> entries) {
    std::vector<unsigned char> stream;
    for (const auto& part : entries) stream.insert(stream.end(), part.begin(), part.end());
    stream.insert(stream.end(), {0, 0});
    return block_of(stream, true);
}

void write_bytes(const fs::path& path, const std::vector<unsigned char>& bytes) {
    write_file(path, std::string(bytes.begin(), bytes.end()));
}

Snapshot snapshot(const fs::path& root) {
    Snapshot items;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        std::error_code ignored;
        // A directory's time changes when a temporary is made and removed in it: only its
        // existence counts.
        if (item.is_regular_file(ignored)) {
            items[item.path()] = {item.file_size(ignored), item.last_write_time(ignored)};
        } else {
            items[item.path()] = {};
        }
    }
    return items;
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
