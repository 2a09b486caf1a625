// The packer, through the real kelvor-onefile binary: the bytes it writes, and what it does
// with input that a payload cannot carry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include "launcher_linking.h"
#include "little_endian.h"
#include "payload_block_reader.h"
#include "payload_block_writer.h"
#include "progress_meter.h"
#include "text_encoding.h"
#include "tool_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using testing::read_bytes;
using testing::run_tool;
using testing::ScratchDirectory;
using testing::write_file;

std::vector<unsigned char> pack(const std::vector<std::string>& arguments, const fs::path& output) {
    std::vector<std::string> all{"pack", "-o", output.string()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const auto run = run_tool(all);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    return read_bytes(output);
}

// A tree with nested directories, an empty file, non-ASCII names and sizes around the
// launcher's 32,768-byte write piece.
void make_sample_tree(const fs::path& root) {
    write_file(root / "app.dll", testing::dll_image());
    write_file(root / "data" / "empty.txt", "");
    write_file(root / "data" / "one", "1");
    write_file(root / "data" / "deep" / "er" / "piece.bin", std::string(32768, 'p'));
    write_file(root / "data" / "deep" / "er" / "piece+1.bin", std::string(32769, 'q'));
    write_file(root / "caf\xC3\xA9" / "\xE6\x97\xA5\xE6\x9C\xAC.txt", "non-ASCII");
    write_file(root / "Zeta.txt", "last but sorted by name");
}

std::map<std::u16string, std::string> unpack_in_memory(const std::vector<unsigned char>& block,
                                                       std::vector<std::u16string>* order = nullptr) {
    std::map<std::u16string, std::string> files;
    const auto contents = read_payload_block(block.data(), block.size(),
                                             [&files](const ListedEntry& entry, const unsigned char* data, size_t n) {
                                                 files[entry.name].append(reinterpret_cast<const char*>(data), n);
                                             });
    for (const auto& entry : contents.entries) {
        files.emplace(entry.name, "");
        if (order) order->push_back(entry.name);
    }
    return files;
}

TEST(PackedBytes, OneEntryStreamIsLaidOutAsTheFormatSays) {
    ScratchDirectory scratch;
    const std::string dll = testing::dll_image();
    write_file(scratch / "ab", dll);
    const auto block = pack({"--app", (scratch / "ab").string()}, scratch / "payload.bin");
    std::vector<unsigned char> expected = {0x61, 0, 0x62, 0, 0, 0};
    append_le(expected, dll.size(), 8);
    expected.insert(expected.end(), dll.begin(), dll.end());
    expected.insert(expected.end(), {0, 0});
    EXPECT_EQ(testing::decode_entry_stream(block), expected);
    ASSERT_GE(block.size(), 3u);
    EXPECT_EQ(std::string(block.begin(), block.begin() + 3), "KAY");
}

TEST(PackedBytes, RoundTripKeepsEveryFileAndPutsTheDllFirst) {
    ScratchDirectory scratch;
    make_sample_tree(scratch / "tree");
    testing::DllShape main_shape;
    main_shape.exports = {"helper", "run_code", "zeta"};
    const std::string main_dll = testing::dll_image(main_shape);
    write_file(scratch / "main.dll", main_dll);
    const auto block = pack({"--app", (scratch / "main.dll").string(), "--dir", (scratch / "tree").string()},
                            scratch / "payload.bin");
    std::vector<std::u16string> order;
    const auto files = unpack_in_memory(block, &order);

    const std::vector<std::u16string> expected_order = {
        u"main.dll", u"Zeta.txt", u"app.dll", u"caf\u00E9\\\u65E5\u672C.txt", u"data\\deep\\er\\piece+1.bin",
        u"data\\deep\\er\\piece.bin", u"data\\empty.txt", u"data\\one"};
    EXPECT_EQ(order, expected_order);
    EXPECT_EQ(files.at(u"main.dll"), main_dll);
    EXPECT_EQ(files.at(u"data\\empty.txt"), "");
    EXPECT_EQ(files.at(u"data\\one"), "1");
    EXPECT_EQ(files.at(u"data\\deep\\er\\piece.bin"), std::string(32768, 'p'));
    EXPECT_EQ(files.at(u"data\\deep\\er\\piece+1.bin"), std::string(32769, 'q'));
    EXPECT_EQ(files.at(u"caf\u00E9\\\u65E5\u672C.txt"), "non-ASCII");
}

TEST(PackedBytes, DllInsideTheDirectoryIsPackedOnceUnderItsRelativePath) {
    ScratchDirectory scratch;
    make_sample_tree(scratch / "tree");
    const auto block = pack({"--app", (scratch / "tree" / "app.dll").string(), "--dir", (scratch / "tree").string()},
                            scratch / "payload.bin");
    std::vector<std::u16string> order;
    unpack_in_memory(block, &order);
    ASSERT_FALSE(order.empty());
    EXPECT_EQ(order.front(), u"app.dll");
    EXPECT_EQ(std::count(order.begin(), order.end(), u"app.dll"), 1);
    EXPECT_EQ(order.size(), 7u);
}

// An ordinary program: the runner DLL from --launcher-dir goes first, named after the program
// beside it, and the program is packed with the other files.
TEST(PackedBytes, AProgramComesAfterTheRunnerNamedAfterIt) {
    ScratchDirectory scratch;
    make_sample_tree(scratch / "tree");
    testing::DllShape program;
    program.characteristics = 0x0022;
    write_file(scratch / "tree" / "bin" / "tool.exe", testing::dll_image(program));
    const std::string runner = testing::dll_image();
    write_file(scratch / "lib" / linking::kRunnerDll, runner);
    const auto block = pack({"--exe", "bin/tool.exe", "--dir", (scratch / "tree").string(), "--launcher-dir",
                             (scratch / "lib").string()},
                            scratch / "payload.bin");
    std::vector<std::u16string> order;
    const auto files = unpack_in_memory(block, &order);
    ASSERT_EQ(order.size(), 9u);
    EXPECT_EQ(order[0], u"bin\\tool.exe.kelvor-runner.dll");
    EXPECT_EQ(order[3], u"bin\\tool.exe");
    EXPECT_EQ(files.at(u"bin\\tool.exe.kelvor-runner.dll"), runner);
    EXPECT_EQ(files.at(u"bin\\tool.exe"), testing::dll_image(program));
}

TEST(PackedBytes, SameInputsGiveTheSameBytesWhateverTheThreads) {
    ScratchDirectory scratch;
    make_sample_tree(scratch / "tree");
    // Enough data for several compression jobs of a 2^17 window.
    std::string big;
    for (long i = 0; i < 400000; ++i) big += std::to_string(i * 7919 % 100003) + ",";
    write_file(scratch / "tree" / "big.txt", big);
    const std::vector<std::string> inputs = {"--app", (scratch / "tree" / "app.dll").string(), "--dir",
                                             (scratch / "tree").string(), "--level", "3",
                                             "--window-log", "17"};
    auto with_threads = [&](const char* threads, const char* name) {
        auto arguments = inputs;
        arguments.push_back("--threads");
        arguments.push_back(threads);
        return pack(arguments, scratch / name);
    };
    const auto first = with_threads("1", "one.bin");
    EXPECT_EQ(first, with_threads("1", "again.bin"));
    EXPECT_EQ(first, with_threads("3", "three.bin"));
}

TEST(PackedBytes, TailHoldsFourZerosAndItsOwnOffset) {
    ScratchDirectory scratch;
    make_sample_tree(scratch / "tree");
    const auto block = pack({"--app", (scratch / "tree" / "app.dll").string(), "--dir", (scratch / "tree").string()},
                            scratch / "payload.bin");
    const size_t frame = ZSTD_findFrameCompressedSize(block.data() + 3, block.size() - 3);
    ASSERT_FALSE(ZSTD_isError(frame));
    ASSERT_EQ(block.size(), 15 + frame);
    EXPECT_EQ(std::vector<unsigned char>(block.begin() + 3 + frame, block.begin() + 7 + frame),
              std::vector<unsigned char>(4, 0));
    EXPECT_EQ(read_le(block.data() + 7 + frame, 8), 7 + frame);
}

TEST(FrameShape, RecordsTheContentSizeAChecksumAndAWindowThatJustHoldsTheStream) {
    ScratchDirectory scratch;
    make_sample_tree(scratch / "tree");
    const auto block = pack({"--app", (scratch / "tree" / "app.dll").string(), "--dir", (scratch / "tree").string()},
                            scratch / "payload.bin");
    ZSTD_frameHeader header;
    ASSERT_EQ(ZSTD_getFrameHeader(&header, block.data() + 3, block.size() - 3), 0u);
    const auto stream = testing::decode_entry_stream(block);
    EXPECT_EQ(header.frameContentSize, stream.size());
    EXPECT_EQ(header.checksumFlag, 1u);
    EXPECT_EQ(header.dictID, 0u);
    EXPECT_LE(header.windowSize, std::uint64_t{1} << window_log_for(stream.size()));
}

TEST(FrameShape, CanBeToldToWriteTheLargeWindowWithoutContentSize) {
    ScratchDirectory scratch;
    make_sample_tree(scratch / "tree");
    const auto block = pack({"--app", (scratch / "tree" / "app.dll").string(), "--dir", (scratch / "tree").string(),
                             "--window-log", "27", "--no-content-size"},
                            scratch / "payload.bin");
    ASSERT_GT(block.size(), 8u);
    EXPECT_EQ(block[7], 0x04) << "frame header descriptor: a content checksum and nothing else";
    EXPECT_EQ(block[8], 0x88) << "window descriptor: 2^27";
    EXPECT_EQ(unpack_in_memory(block).size(), 7u);
}

TEST(FrameShape, WindowIsTheSmallestPowerOfTwoUpTo16MiB) {
    const std::pair<std::uint64_t, int> cases[] = {
        {1, 10}, {1024, 10}, {1025, 11}, {65536, 16}, {65537, 17}, {std::uint64_t{1} << 24, 24},
        {(std::uint64_t{1} << 24) + 1, 24}, {std::uint64_t{1} << 27, 24}, {std::uint64_t{1} << 40, 24}};
    for (const auto& [size, log] : cases) EXPECT_EQ(window_log_for(size), log) << size;
}

struct BadInput {
    const char* label;
    std::function<std::vector<std::string>(const fs::path& root)> prepare;  // returns the arguments
    const char* message;
};

std::vector<std::string> tree_args(const fs::path& root) {
    return {"--app", (root / "tree" / "app.dll").string(), "--dir", (root / "tree").string()};
}

// An --app written with this shape.
std::function<std::vector<std::string>(const fs::path&)> app_shaped(void (*change)(testing::DllShape&)) {
    return [change](const fs::path& root) {
        testing::DllShape shape;
        change(shape);
        write_file(root / "shaped.dll", testing::dll_image(shape));
        return std::vector<std::string>{"--app", (root / "shaped.dll").string()};
    };
}

std::vector<std::string> with_output(std::vector<std::string> arguments, const fs::path& output) {
    arguments.insert(arguments.end(), {"-o", output.string()});
    return arguments;
}

// --exe with the files of the sample tree and a runner DLL beside it.
std::vector<std::string> program_args(const fs::path& root, const std::string& program) {
    write_file(root / "lib" / linking::kRunnerDll, testing::dll_image());
    return {"--exe", program, "--dir", (root / "tree").string(), "--launcher-dir", (root / "lib").string()};
}

// A program in the sample tree written with this shape.
std::function<std::vector<std::string>(const fs::path&)> program_shaped(void (*change)(testing::DllShape&)) {
    return [change](const fs::path& root) {
        testing::DllShape shape;
        shape.characteristics = 0x0022;
        change(shape);
        write_file(root / "tree" / "shaped.exe", testing::dll_image(shape));
        return program_args(root, "shaped.exe");
    };
}

const BadInput kBadInputs[] = {
    {"missing DLL", [](const fs::path& root) { return std::vector<std::string>{"--app", (root / "no.dll").string()}; },
     "does not exist"},
    {"missing directory",
     [](const fs::path& root) {
         return std::vector<std::string>{"--app", (root / "tree" / "app.dll").string(), "--dir", (root / "gone").string()};
     },
     "does not exist"},
    {"DLL is a directory",
     [](const fs::path& root) { return std::vector<std::string>{"--app", (root / "tree" / "data").string()}; },
     "not a regular file"},
    {"a FIFO in the directory",
     [](const fs::path& root) {
         mkfifo((root / "tree" / "pipe").c_str(), 0600);
         return tree_args(root);
     },
     "not a regular file"},
    {"a symbolic link to a directory",
     [](const fs::path& root) {
         fs::create_directory_symlink(root / "tree" / "data", root / "tree" / "loop");
         return tree_args(root);
     },
     "symbolic link to a directory"},
    {"a broken symbolic link",
     [](const fs::path& root) {
         fs::create_symlink(root / "nowhere", root / "tree" / "dangling");
         return tree_args(root);
     },
     "broken symbolic link"},
    {"a backslash inside a host name",
     [](const fs::path& root) {
         write_file(root / "tree" / "..\\..\\evil.dll", "x");
         return tree_args(root);
     },
     "does not allow"},
    {"a name of 1,024 UTF-16 units",
     [](const fs::path& root) {
         // 4 directories of 200 units, their separators, and a file name: 1,024 units.
         fs::path deep = root / "tree";
         for (int i = 0; i < 4; ++i) deep /= std::string(200, static_cast<char>('a' + i));
         write_file(deep / std::string(1024 - 4 * 201, 'f'), "x");
         return tree_args(root);
     },
     "at most 1023"},
    {"a name that is not UTF-8",
     [](const fs::path& root) {
         write_file(root / "tree" / "bad\xFF.txt", "x");
         return tree_args(root);
     },
     "not valid UTF-8"},
    {"names that differ only in case",
     [](const fs::path& root) {
         write_file(root / "tree" / "data" / "README.txt", "x");
         write_file(root / "tree" / "data" / "readme.TXT", "y");
         return tree_args(root);
     },
     "differ only in case"},
    {"a file named like a directory",
     [](const fs::path& root) {
         write_file(root / "tree" / "DATA", "x");
         return tree_args(root);
     },
     "needs a directory of that name"},
    {"a DLL outside the directory named like a file in it",
     [](const fs::path& root) {
         write_file(root / "app.dll", testing::dll_image());
         return std::vector<std::string>{"--app", (root / "app.dll").string(), "--dir", (root / "tree").string()};
     },
     "would both be packed as 'app.dll'"},
    {"a device name with a space before the extension",
     [](const fs::path& root) {
         write_file(root / "tree" / "data" / "nul .log", "x");
         return tree_args(root);
     },
     "reserved Windows device name"},
    {"output is the DLL",
     [](const fs::path& root) {
         return with_output({"--app", (root / "tree" / "app.dll").string()}, root / "tree" / "app.dll");
     },
     "is the file given with --app"},
    {"output is a link to the DLL",
     [](const fs::path& root) {
         fs::create_symlink(root / "tree" / "app.dll", root / "link.dll");
         return with_output({"--app", (root / "tree" / "app.dll").string()}, root / "link.dll");
     },
     "is the file given with --app"},
    {"output inside the directory", [](const fs::path& root) { return with_output(tree_args(root), root / "tree" / "data" / "p.bin"); },
     "lies inside the directory given with --dir"},
    // A FIFO in the scratch folder rather than a device such as /dev/null: if the check failed,
    // the output would be renamed over it, which no test may do to a real device.
    {"output is a FIFO",
     [](const fs::path& root) {
         mkfifo((root / "pipe").c_str(), 0600);
         return with_output(tree_args(root), root / "pipe");
     },
     "exists and is not a regular file"},
    {"DLL is a device", [](const fs::path&) { return std::vector<std::string>{"--app", "/dev/zero"}; },
     "'/dev/zero' is not a regular file"},
    {"DLL is text",
     [](const fs::path& root) {
         write_file(root / "notes.txt", std::string(200, 't'));
         return std::vector<std::string>{"--app", (root / "notes.txt").string()};
     },
     "is not a Windows DLL"},
    {"32-bit DLL", app_shaped([](testing::DllShape& shape) { shape.machine = 0x14C; }), "is a 32-bit DLL"},
    {"ARM64 DLL", app_shaped([](testing::DllShape& shape) { shape.machine = 0xAA64; }), "machine 0xAA64, not x86-64"},
    {"PE32 image", app_shaped([](testing::DllShape& shape) { shape.magic = 0x10B; }), "32-bit (PE32) image"},
    {"program", app_shaped([](testing::DllShape& shape) { shape.characteristics = 0x0022; }), "is a program, not a DLL"},
    {"DLL without run_code",
     app_shaped([](testing::DllShape& shape) { shape.exports = {"run_cod", "run_code_", "RUN_CODE"}; }),
     "does not export run_code"},
    {"DLL that exports nothing", app_shaped([](testing::DllShape& shape) { shape.exports = {}; }), "exports nothing"},
    {"missing program", [](const fs::path& root) { return program_args(root, "bin/none.exe"); },
     "program 'bin/none.exe' does not exist in"},
    {"program outside the directory", [](const fs::path& root) { return program_args(root, "../tree/app.dll"); },
     "must be a path relative to the directory given with --dir, inside it"},
    {"program that is a DLL", [](const fs::path& root) { return program_args(root, "app.dll"); },
     "is a DLL, not a program"},
    {"32-bit program", program_shaped([](testing::DllShape& shape) { shape.machine = 0x14C; }), "is a 32-bit program"},
    {"no runner DLL",
     [](const fs::path& root) {
         auto arguments = program_args(root, "app.dll");
         arguments.back() = (root / "tree" / "data").string();
         return arguments;
     },
     "the runner DLL is not in"},
    {"a file named like the runner",
     [](const fs::path& root) {
         write_file(root / "tree" / "shaped.exe.kelvor-runner.dll", "x");
         return program_shaped([](testing::DllShape&) {})(root);
     },
     "would both be packed as 'shaped.exe.kelvor-runner.dll'"},
    {"output is the runner DLL",
     [](const fs::path& root) {
         return with_output(program_args(root, "app.dll"), root / "lib" / linking::kRunnerDll);
     },
     "is the file given with --launcher-dir"},
};

class PackRejects : public ::testing::TestWithParam<BadInput> {};

TEST_P(PackRejects, WithOneMessageAndNoOutput) {
    ScratchDirectory scratch;
    make_sample_tree(scratch / "tree");
    write_file(scratch / "tree" / "data" / "ok.txt", "ok");
    auto arguments = GetParam().prepare(scratch.path());
    fs::create_directory(scratch / "out");
    // A case's own -o comes later and wins.
    arguments.insert(arguments.begin(), {"pack", "-o", (scratch / "out" / "payload.bin").string()});
    const auto before = testing::snapshot(scratch.path());
    const auto run = run_tool(arguments);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(testing::snapshot(scratch.path()), before) << "output or temporary file left behind, or an input changed";
}

INSTANTIATE_TEST_SUITE_P(BadInputs, PackRejects, ::testing::ValuesIn(kBadInputs),
                         [](const ::testing::TestParamInfo<BadInput>& param) { return testing::case_name(param.param.label); });

// Run as a user who may not read them (as nobody when the tests run as root).
TEST(PackInputs, UnreadableFilesAndFoldersAreNamed) {
    const auto as_user = testing::as_unprivileged_user();
    if (!as_user) GTEST_SKIP() << "running as root without setpriv to drop it";
    ScratchDirectory scratch;
    fs::permissions(scratch.path(), fs::perms::all);
    make_sample_tree(scratch / "tree");
    for (const auto& item : fs::recursive_directory_iterator(scratch.path())) {
        fs::permissions(item.path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    }
    const std::pair<fs::path, const char*> cases[] = {
        {scratch / "tree" / "data" / "deep", "cannot read the directory '"},
        {scratch / "tree" / "data" / "one", "cannot read '"},
        {scratch / "tree" / "app.dll", "cannot read '"},
    };
    for (const auto& [unreadable, message] : cases) {
        fs::permissions(unreadable, fs::perms::none);
        auto arguments = with_output(tree_args(scratch.path()), scratch / "payload.bin");
        arguments.insert(arguments.begin(), "pack");
        const auto run = testing::run_tool_under(*as_user, arguments);
        fs::permissions(unreadable, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
        EXPECT_EQ(run.exit_code, 1) << unreadable;
        EXPECT_NE(run.err.find(message + unreadable.string() + "': Permission denied"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(scratch / "payload.bin"));
    }
}

TEST(PackOutput, UnwritablePathsFailCleanly) {
    ScratchDirectory scratch;
    write_file(scratch / "app.dll", testing::dll_image());
    fs::create_directory(scratch / "taken");
    write_file(scratch / "taken" / "keep", "keep");
    const std::pair<fs::path, const char*> cases[] = {
        {scratch / "missing" / "payload.bin", "cannot write"},
        {scratch / "taken", "exists and is not a regular file"},
    };
    for (const auto& [output, message] : cases) {
        const auto run = run_tool({"pack", "--app", (scratch / "app.dll").string(), "-o", output.string()});
        EXPECT_EQ(run.exit_code, 1) << output;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    EXPECT_EQ(testing::read_file(scratch / "taken" / "keep"), "keep");
    size_t items = 0;
    for ([[maybe_unused]] const auto& item : fs::directory_iterator(scratch.path())) ++items;
    EXPECT_EQ(items, 2u) << "a temporary file was left behind";
}

TEST(CommandLineUse, HelpVersionAndUsageErrors) {
    struct Case {
        std::vector<std::string> arguments;
        int exit_code;
        const char* text;
        bool on_stdout;
    };
    const Case cases[] = {
        {{"--help"}, 0, "Usage: kelvor-onefile COMMAND", true},
        {{"pack", "--help"}, 0, "Usage: kelvor-onefile pack", true},
        {{"list", "-h"}, 0, "Usage: kelvor-onefile list", true},
        {{"build", "--help"}, 0, "32521 UTF-16 units together", true},
        {{"--version"}, 0, "kelvor-onefile ", true},
        {{}, 2, "Usage:", false},
        {{"unpack"}, 2, "unknown command 'unpack'", false},
        {{"pack", "--app"}, 2, "--app needs a value", false},
        {{"pack", "-o", "x"}, 2, "--app or --exe is required", false},
        {{"build", "--app", "a", "--exe", "b", "-o", "x"}, 2, "--app and --exe exclude each other", false},
        {{"pack", "--exe", "b", "-o", "x"}, 2, "--exe needs --dir", false},
        {{"pack", "--app", "a", "-o", "x", "--level", "99"}, 2, "--level takes a whole number", false},
        {{"pack", "--app", "a", "-o", "x", "--window-log", "28"}, 2, "--window-log takes", false},
        {{"list"}, 2, "exactly one FILE", false},
        {{"extract", "-h"}, 0, "Usage: kelvor-onefile extract FILE -o DIR", true},
        {{"extract", "x"}, 2, "extract: --output is required", false},
        {{"extract", "-o", "d"}, 2, "extract: give exactly one FILE", false},
        {{"build", "--help"}, 0, "--sign-pass-file FILE", true},
        {{"build", "--app", "a", "-o", "x", "--sign-cert", "c"}, 2, "--sign-key and --sign-cert go together", false},
        {{"build", "--app", "a", "-o", "x", "--sign-timestamp", "u"}, 2, "--sign-timestamp needs --sign-key", false},
    };
    for (const auto& c : cases) {
        const auto run = run_tool(c.arguments);
        EXPECT_EQ(run.exit_code, c.exit_code) << c.text;
        EXPECT_NE((c.on_stdout ? run.out : run.err).find(c.text), std::string::npos) << run.out << run.err;
    }
}

// Packing progress is redrawn in place only on a terminal that can do it; a terminal whose
// TERM is "dumb", a pipe or a file gets plain lines, never escape sequences.
TEST(PackingProgress, RedrawsInPlaceOnlyOnATerminalThatIsNotDumb) {
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(grantpt(terminal), 0);
    ASSERT_EQ(unlockpt(terminal), 0);
    const int other_end = open(ptsname(terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(other_end, 0);
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);

    const auto set_term = [](const char* value) { value ? setenv("TERM", value, 1) : unsetenv("TERM"); };
    const char* const saved = std::getenv("TERM");
    const std::optional<std::string> term = saved ? std::optional<std::string>(saved) : std::nullopt;
    const struct {
        int descriptor;
        const char* term;  // nullptr: unset
        bool in_place;
    } cases[] = {{other_end, "xterm-256color", true}, {other_end, "dumb", false}, {other_end, "", false},
                 {other_end, nullptr, false},         {pipe_ends[1], "xterm", false}};
    for (const auto& c : cases) {
        set_term(c.term);
        EXPECT_EQ(redraws_in_place(c.descriptor), c.in_place) << (c.term ? c.term : "unset") << " " << c.descriptor;
    }
    set_term(term ? term->c_str() : nullptr);
    for (const int descriptor : {terminal, other_end, pipe_ends[0], pipe_ends[1]}) close(descriptor);
}

}  // namespace
}  // namespace kelvor
