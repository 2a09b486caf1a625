// The file unpacker against real files: what a payload turns into on disk, how directories
// come into being, and what each failure looks like.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "payload/file_unpacker.h"
#include "payload/payload_block.h"
#include "payload/payload_stream.h"
#include "text/bounded_text.h"
#include "launcher_runs.h"
#include "payload_builder.h"
#include "test_arguments.h"
#include "windows_test_support.h"

namespace kelvor::testing {
namespace {

// Unpacks in this process, as a parent run's entry loop does. Only for blocks that unpack
// cleanly: a failure ends the process.
void unpack_here(const std::string& block, const std::wstring& target) {
    static std::string kept;  // the stream reads the block in place
    static std::wstring directory;
    kept = block;
    directory = target;
    set_unpack_directory(directory.c_str());
    open_payload_stream(reinterpret_cast<const unsigned char*>(kept.data()), kept.size());
    while (read_entry_name()) {
        build_entry_path();
        unpack_entry();
    }
    finish_unpacking();
    require_frame_end();
    close_payload_stream();
}

std::string block_of(std::initializer_list<std::pair<std::wstring, std::string>> entries) {
    std::string stream;
    for (const auto& [name, data] : entries) stream += entry_bytes(name, data);
    return payload_block(raw_frame(stream + end_marker_bytes()));
}

std::vector<std::wstring> remembered_directories() {
    return std::vector<std::wstring>(created_directories, created_directories + created_directory_count);
}

class UnpackerTest : public ::testing::Test {
protected:
    // Each test starts with an empty table of created directories.
    void SetUp() override {
        created_directory_count = 0;
    }
    ScratchDirectory scratch_;
    const std::wstring target_ = scratch_ / L"onefile_target";
};

TEST_F(UnpackerTest, PackerPayloadGivesExactlyThePackedFiles) {
    unpack_here(read_file(test_data_path(L"sample.payload")), target_);
    const auto unpacked = read_tree(target_);
    const auto expected = read_tree(test_data_path(L"sample-tree"));
    ASSERT_EQ(unpacked.size(), expected.size());
    for (const auto& [name, data] : expected) {
        ASSERT_EQ(unpacked.count(name), 1u) << narrow(name);
        EXPECT_EQ(first_difference(unpacked.at(name), data), "") << narrow(name);
    }
}

// The home directory is looked up only when the walk goes above the target directory; inside
// it, the walk never meets the home directory.
TEST_F(UnpackerTest, DirectoriesAreCreatedTopDownAndRememberedOnce) {
    unpack_here(block_of({{L"a\\b\\c\\deep.txt", "1"}, {L"a\\b\\c\\second.txt", "2"}, {L"a\\side.txt", "3"},
                          {L"top.txt", "4"}}),
                target_);
    const std::vector<std::wstring> expected = {target_, target_ + L"\\a", target_ + L"\\a\\b",
                                                target_ + L"\\a\\b\\c"};
    EXPECT_EQ(remembered_directories(), expected);
    EXPECT_EQ(read_file(target_ + L"\\a\\b\\c\\second.txt"), "2");
    EXPECT_EQ(read_file(target_ + L"\\top.txt"), "4");
}

TEST_F(UnpackerTest, AWalkAboveTheTargetDirectoryRemembersTheHomeDirectoryFirst) {
    const std::wstring missing = scratch_ / L"missing";
    unpack_here(block_of({{L"a.txt", "1"}}), missing + L"\\onefile_target");
    wchar_t home[MAX_PATH];
    GetEnvironmentVariableW(L"USERPROFILE", home, MAX_PATH);
    const std::vector<std::wstring> expected = {home, missing, missing + L"\\onefile_target"};
    EXPECT_EQ(remembered_directories(), expected);
}

TEST_F(UnpackerTest, LaterFilesInAKnownDirectoryMakeNoDirectoryCall) {
    // The directory is remembered, so when it vanishes between two entries it is not made
    // again: opening the second file fails.
    EXPECT_EXIT(
        {
            unpack_here(block_of({{L"x\\first.txt", "1"}}), target_);
            MoveFileW((target_ + L"\\x").c_str(), (target_ + L"\\moved").c_str());
            unpack_here(block_of({{L"x\\second.txt", "2"}}), target_);
        },
        ::testing::ExitedWithCode(2), "Error, failed to open '.*second.txt' for writing.");
}

TEST_F(UnpackerTest, SameNameTwiceLeavesTheSecondContents) {
    unpack_here(block_of({{L"dup.txt", "first, longer contents"}, {L"dup.txt", "second"}}), target_);
    EXPECT_EQ(read_file(target_ + L"\\dup.txt"), "second");
}

TEST_F(UnpackerTest, ExistingDirectoriesCountAsCreatedAndFilesAreReplaced) {
    write_file(target_ + L"\\a\\f.txt", "old contents");
    unpack_here(block_of({{L"a\\f.txt", "new"}, {L"a\\g.txt", ""}}), target_);
    EXPECT_EQ(read_file(target_ + L"\\a\\f.txt"), "new");
    EXPECT_EQ(read_file(target_ + L"\\a\\g.txt"), "");
}

TEST_F(UnpackerTest, MoreDirectoriesThanTheTableHoldsAreAllCreated) {
    std::string stream;
    for (int i = 0; i < 1100; ++i) stream += entry_bytes(L"d" + std::to_wstring(i) + L"\\f", std::to_string(i));
    unpack_here(payload_block(raw_frame(stream + end_marker_bytes())), target_);
    EXPECT_EQ(created_directory_count, 1024);
    EXPECT_EQ(read_file(target_ + L"\\d0\\f"), "0");
    EXPECT_EQ(read_file(target_ + L"\\d1099\\f"), "1099");
    EXPECT_EQ(read_tree(target_).size(), 1100u);
}

TEST_F(UnpackerTest, BareDrivesCountAsExistingWithoutBeingRemembered) {
    EXPECT_TRUE(create_directory_once(L"C:"));
    EXPECT_TRUE(create_directory_once(L"Q:"));
    for (const auto& directory : remembered_directories()) EXPECT_NE(directory.size(), 2u) << narrow(directory);
}

// The owner-only directory: nobody but the user (and SYSTEM, which Wine adds when it reads a
// descriptor back) may touch what the launcher unpacked.
std::vector<std::string> allowed_sids(const std::wstring& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::vector<std::string> sids;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS) {
        ADD_FAILURE() << "no security information for " << narrow(path);
        return sids;
    }
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        GetAce(dacl, i, reinterpret_cast<void**>(&ace));
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        char* text = nullptr;
        ConvertSidToStringSidA(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, &text);
        sids.emplace_back(text);
        LocalFree(text);
    }
    LocalFree(descriptor);
    return sids;
}

std::string current_user_sid() {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    char buffer[256];
    DWORD size = sizeof buffer;
    GetTokenInformation(token, TokenUser, buffer, size, &size);
    CloseHandle(token);
    char* text = nullptr;
    ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text);
    std::string sid = text;
    LocalFree(text);
    return sid;
}

TEST_F(UnpackerTest, EverythingUnpackedBelongsToTheUserAlone) {
    const std::string user = current_user_sid();
    // The check can fail: a directory made with default security grants others access.
    const std::wstring ordinary = scratch_ / L"ordinary";
    CreateDirectoryW(ordinary.c_str(), nullptr);
    const auto ordinary_sids = allowed_sids(ordinary);
    EXPECT_TRUE(std::any_of(ordinary_sids.begin(), ordinary_sids.end(),
                            [&](const std::string& sid) { return sid != user && sid != "S-1-5-18"; }))
        << "a default directory shows no other users here";

    const std::string dll = read_file(test_arguments().at(1));
    unpack_here(block_of({{L"app.dll", dll}, {L"sub\\deeper\\data.txt", "data"}}), target_);
    for (const std::wstring& path : {target_, target_ + L"\\sub", target_ + L"\\sub\\deeper", target_ + L"\\app.dll",
                                     target_ + L"\\sub\\deeper\\data.txt"}) {
        const auto sids = allowed_sids(path);
        EXPECT_FALSE(sids.empty()) << narrow(path);
        for (const auto& sid : sids) EXPECT_TRUE(sid == user || sid == "S-1-5-18") << narrow(path) << " grants " << sid;
    }
    // The user can still load, write and delete all of it.
    HMODULE loaded = LoadLibraryW((target_ + L"\\app.dll").c_str());
    EXPECT_NE(loaded, nullptr);
    if (loaded) FreeLibrary(loaded);
    write_file(target_ + L"\\sub\\deeper\\data.txt", "changed");
    remove_tree(target_);
    EXPECT_FALSE(path_exists(target_));
}

// The failures, each in a process of its own (launcher_scenarios unpack).
class UnpackFailure : public ::testing::Test {
protected:
    ProcessResult unpack_in_child(const std::string& block, const std::wstring& target) {
        const std::wstring block_path = scratch_ / L"block.bin";
        write_file(block_path, block);
        const std::wstring& harness = test_arguments().at(0);
        ProcessOptions options;
        options.application = harness;
        options.command_line = quote_argument(harness) + L" unpack " + quote_argument(block_path) + L" " +
                               quote_argument(target);
        ProcessResult result = run_process(options);
        EXPECT_FALSE(result.timed_out);
        return result;
    }
    ScratchDirectory scratch_;
    const std::wstring target_ = scratch_ / L"target";
};

TEST_F(UnpackFailure, AFileWhereADirectoryIsNeeded) {
    write_file(target_ + L"\\a", "in the way");
    const auto run = unpack_in_child(block_of({{L"a\\b.txt", "x"}}), target_);
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Error, failed to open '" + narrow(target_) + "\\a\\b.txt' for writing.\r\n");
}

TEST_F(UnpackFailure, AFileHeldOpenWithoutWriteSharing) {
    write_file(target_ + L"\\held.txt", "held");
    HANDLE held = CreateFileW((target_ + L"\\held.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const auto run = unpack_in_child(block_of({{L"first.txt", "1"}, {L"held.txt", "x"}}), target_);
    CloseHandle(held);
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.out, "unpacked " + narrow(target_) + "\\first.txt\r\n");
    EXPECT_EQ(run.err, "Error, failed to open '" + narrow(target_) + "\\held.txt' for writing.\r\n");
    EXPECT_EQ(read_file(target_ + L"\\first.txt"), "1") << "what was written stays";
}

TEST_F(UnpackFailure, ANameOf1024UnitsIsAMalformedBlock) {
    const auto fits = unpack_in_child(block_of({{std::wstring(255, L'n'), "x"}}), target_);
    EXPECT_EQ(fits.exit_code, 0u) << fits.err;
    const auto run = unpack_in_child(block_of({{std::wstring(1024, L'n'), "x"}}), target_);
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.out, "Error, couldn't decode attached data.\r\n");
    EXPECT_EQ(run.err, "");
}

// Names the packer never writes are damage: nothing is written for them, above all nothing
// outside the target directory.
TEST_F(UnpackFailure, NamesThatCouldLeaveTheTargetOrReachADeviceAreDamage) {
    const wchar_t* const names[] = {
        L"..\\escaped.txt", L"a\\..\\..\\escaped.txt", L".\\x", L"\\rooted.txt", L"a\\", L"a\\\\b",
        L"C:\\drive.txt", L"S:", L"a/b", L"x:stream", L"CON", L"nul .log", L"COM\u00b9.txt", L"conout$",
        L"trailing.", L"trailing ", L"tab\there", L"star*", L"q?"};
    for (const wchar_t* name : names) {
        const auto run = unpack_in_child(block_of({{L"first.txt", "1"}, {name, "x"}}), target_);
        EXPECT_EQ(run.exit_code, 2u) << narrow(name);
        EXPECT_EQ(run.out, "unpacked " + narrow(target_) + "\\first.txt\r\nError, couldn't decode attached data.\r\n")
            << narrow(name);
        EXPECT_FALSE(path_exists(scratch_ / L"escaped.txt")) << narrow(name);
        remove_tree(target_);
    }
}

TEST_F(UnpackFailure, AJoinedPathBeyondTheLimitEndsWithoutAMessage) {
    const std::wstring deep_target = L"C:\\" + std::wstring(3500, L'd');
    const auto run = unpack_in_child(block_of({{std::wstring(600, L'n'), "x"}}), deep_target);
    EXPECT_EQ(run.exit_code, 3u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}

TEST_F(UnpackFailure, AFullDiskIsReportedAndThePartialFileStays) {
    const std::wstring small_disk = test_arguments().at(2);
    if (!path_exists(small_disk + L"\\.kelvor-small-disk")) GTEST_SKIP() << "no small disk mounted (needs root)";
    const std::wstring target = small_disk + L"\\target-" + std::to_wstring(GetCurrentProcessId());
    const auto run = unpack_in_child(block_of({{L"big.bin", std::string(3 << 20, 'b')}}), target);
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.err, "Error, couldn't unpack file to target path. ([Error 112] " + system_text(ERROR_DISK_FULL) +
                           ")\r\n");
    const std::string partial = path_exists(target + L"\\big.bin") ? read_file(target + L"\\big.bin") : "";
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), static_cast<size_t>(3 << 20));
    remove_tree(target);
}

}  // namespace
}  // namespace kelvor::testing
