// Extracting a payload's files: the files come back byte for byte, names that would lead out
// of the directory or mean something else on Windows are refused, and a failure leaves
// nothing behind.
#include <gtest/gtest.h>

#include <map>

#include "tool_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using testing::entry;
using testing::run_tool;
using testing::ScratchDirectory;
using testing::write_file;

// Every regular file below root by its relative path, with its contents; directories as "/".
std::map<std::string, std::string> tree_of(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string relative = item.path().lexically_relative(root).string();
        tree[relative] = item.is_directory() ? "/" : testing::read_file(item.path());
    }
    return tree;
}

// What a scratch folder holds, top level only: a failed extraction adds nothing to it.
std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder)) names.push_back(item.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

using testing::block_of_entries;
using testing::write_bytes;

TEST(Extract, GivesBackEveryFileByteForByteFromABlockAndFromAnExecutable) {
    ScratchDirectory scratch;
    const fs::path tree = scratch / "tree";
    write_file(tree / "app.dll", testing::dll_image());
    write_file(tree / "empty.txt", "");
    write_file(tree / "data" / "empty-too", "");
    write_file(tree / "a" / "b" / "c" / "d" / "e" / "f" / "deep.bin", std::string(32769, 'd'));
    write_file(tree / "caf\xC3\xA9" / "\xE6\x97\xA5\xE6\x9C\xAC.txt", "non-ASCII");
    std::string noise(300000, '\0');
    for (std::uint32_t x = 7, i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((x = x * 1103515245 + 12345) >> 24);
    write_file(tree / "data" / "noise.bin", noise);
    const auto packed = run_tool({"pack", "--app", (tree / "app.dll").string(), "--dir", tree.string(), "--level", "3",
                                  "-o", (scratch / "payload.bin").string()});
    ASSERT_EQ(packed.exit_code, 0) << packed.err;
    // The block inside an executable, found as the reader finds it, with bytes after it as a
    // signature's certificate table would put them.
    const auto block = testing::read_bytes(scratch / "payload.bin");
    write_bytes(scratch / "App.exe", testing::concat({Bytes{'M', 'Z'}, Bytes(5000, 0x90), block, Bytes(3000, 0x30)}));

    fs::create_directory(scratch / "out");
    for (const char* input : {"payload.bin", "App.exe"}) {
        const fs::path out = scratch / "out" / input;
        const auto run = run_tool({"extract", (scratch / input).string(), "-o", out.string()});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_NE(run.out.find(": 6 entries, "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("content checksum verified"), std::string::npos) << run.out;
        EXPECT_EQ(tree_of(out), tree_of(tree)) << input;
    }
    EXPECT_EQ(names_in(scratch / "out"), (std::vector<std::string>{"App.exe", "payload.bin"})) << "a temporary left";
}

struct CraftedName {
    const char* label;
    std::u16string name;
    const char* message;
};

// Each name is a relative, shallow one, or one that leads into the scratch folder (the name
// with a backslash at its start), so that an extraction that took it could only write there,
// where the test looks.
std::vector<CraftedName> crafted_names(const fs::path& scratch) {
    std::u16string absolute;
    for (const char c : scratch.string() + "/evil.txt") absolute.push_back(c == '/' ? u'\\' : static_cast<char16_t>(c));
    return {
        {"parent", u"..\\evil.txt", "'.' or '..'"},
        {"parent deeper", u"data\\..\\..\\evil.txt", "'.' or '..'"},
        {"backslash at the start", absolute, "an empty component"},
        {"drive", u"C:evil.txt", "does not allow"},
        {"drive and root", u"C:\\evil.txt", "does not allow"},
        {"device", u"CON", "device name"},
        {"device with an extension and a space", u"data\\nul .txt", "device name"},
        {"slash", u"data/../../evil.txt", "does not allow"},
        {"two backslashes", u"data\\\\evil.txt", "an empty component"},
        {"lone surrogate", u"evil\xD800.txt", "not valid UTF-16"},
        {"a name taken twice", u"app.dll", "File exists"},
    };
}

TEST(Extract, RefusesNamesThatLeaveTheDirectoryOrMeanSomethingElseAndLeavesNothing) {
    for (size_t i = 0; i < crafted_names("").size(); ++i) {
        ScratchDirectory scratch;
        const CraftedName crafted = crafted_names(scratch.path())[i];
        write_bytes(scratch / "crafted.bin",
                    block_of_entries({entry(u"app.dll", "MZ"), entry(u"data\\ok.txt", "ok"), entry(crafted.name, "evil")}));
        const auto run = run_tool({"extract", (scratch / "crafted.bin").string(), "-o", (scratch / "out").string()});
        EXPECT_EQ(run.exit_code, 1) << crafted.label;
        EXPECT_NE(run.err.find("entry 3 '"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(crafted.message), std::string::npos) << crafted.label << ": " << run.err;
        EXPECT_EQ(names_in(scratch.path()), std::vector<std::string>{"crafted.bin"}) << crafted.label;
    }
}

// The checksum is checked at the frame's end, after every file has been written: the
// written files go with the temporary directory.
TEST(Extract, DamagedFrameIsRefusedWithNothingLeft) {
    ScratchDirectory scratch;
    auto block = block_of_entries({entry(u"app.dll", "MZ"), entry(u"data\\x.bin", std::string(100000, 'x'))});
    block[block.size() - 13] ^= 0x40;  // the frame's checksum, just before the tail
    write_bytes(scratch / "damaged.bin", block);
    const auto run = run_tool({"extract", (scratch / "damaged.bin").string(), "-o", (scratch / "out").string()});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("damaged.bin': frame: the content checksum does not match"), std::string::npos) << run.err;
    EXPECT_EQ(names_in(scratch.path()), std::vector<std::string>{"damaged.bin"});
}

TEST(Extract, WritesOnlyIntoANewOrEmptyDirectory) {
    ScratchDirectory scratch;
    write_bytes(scratch / "payload.bin", block_of_entries({entry(u"app.dll", "MZ")}));
    write_file(scratch / "full" / "keep.txt", "keep");
    write_file(scratch / "a-file", "file");
    fs::create_directory(scratch / "empty");
    const std::pair<const char*, const char*> refused[] = {{"full", "is not empty"},
                                                           {"a-file", "exists and is not a directory"}};
    for (const auto& [target, message] : refused) {
        const auto run = run_tool({"extract", (scratch / "payload.bin").string(), "-o", (scratch / target).string()});
        EXPECT_EQ(run.exit_code, 1) << target;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    EXPECT_EQ(tree_of(scratch / "full"), (std::map<std::string, std::string>{{"keep.txt", "keep"}}));
    EXPECT_EQ(testing::read_file(scratch / "a-file"), "file");

    const auto run = run_tool({"extract", (scratch / "payload.bin").string(), "-o", (scratch / "empty").string() + "/"});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(tree_of(scratch / "empty"), (std::map<std::string, std::string>{{"app.dll", "MZ"}}));
    EXPECT_EQ(names_in(scratch.path()), (std::vector<std::string>{"a-file", "empty", "full", "payload.bin"}));
}

// A directory that cannot be listed is not taken for one that holds something: the system's
// reason is named.
TEST(Extract, ATargetThatCannotBeListedIsNamedWithTheReason) {
    const auto as_user = testing::as_unprivileged_user();
    if (!as_user) GTEST_SKIP() << "running as root without setpriv to drop it";
    ScratchDirectory scratch;
    fs::permissions(scratch.path(), fs::perms::all);
    write_bytes(scratch / "payload.bin", block_of_entries({entry(u"app.dll", "MZ")}));
    fs::permissions(scratch / "payload.bin", fs::perms::others_read, fs::perm_options::add);
    fs::create_directory(scratch / "locked");
    fs::permissions(scratch / "locked", fs::perms::owner_all | fs::perms::others_exec);
    const auto run = testing::run_tool_under(
        *as_user, {"extract", (scratch / "payload.bin").string(), "-o", (scratch / "locked").string()});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("cannot read the directory '" + (scratch / "locked").string() + "': Permission denied"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(names_in(scratch.path()), (std::vector<std::string>{"locked", "payload.bin"}));
}

}  // namespace
}  // namespace kelvor
