// The launcher when things go wrong around it: damaged payloads, many launches at once, full
// and unwritable disks, files held open, processes killed from outside, awkward paths and a
// stale environment. Real executables, started as a user starts them.
#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>

#include "launcher_runs.h"
#include "test_arguments.h"

namespace kelvor::testing {
namespace {

const std::wstring& probe_launcher() { return test_arguments().at(0); }
const std::wstring& sample_launcher() { return test_arguments().at(1); }
const std::wstring& large_launcher() { return test_arguments().at(2); }
const std::wstring& small_disk() { return test_arguments().at(3); }
const std::wstring& deep_launcher() { return test_arguments().at(4); }

const char kDecodeMessage[] = "Error, couldn't decode attached data.\r\n";

// The payload block's frame inside a launcher executable: from just after "KAY" to the zero
// tail, found the way the tool's list command finds it.
struct Frame {
    std::string image;
    size_t begin = 0;
    size_t end = 0;
};

Frame frame_of(const std::wstring& launcher) {
    Frame frame;
    frame.image = read_file(launcher);
    const size_t block = frame.image.find(std::string("KAY\x28\xb5\x2f\xfd", 7));
    frame.begin = block + 3;
    // The tail offset field holds its own offset from the block's start, 7 + F.
    for (size_t field = frame.begin; field + 8 <= frame.image.size(); ++field) {
        unsigned long long value = 0;
        memcpy(&value, frame.image.data() + field, 8);
        if (value == field - block && field >= frame.begin + 4 &&
            frame.image.compare(field - 4, 4, std::string(4, '\0')) == 0) {
            frame.end = field - 4;
            break;
        }
    }
    return frame;
}

class RobustnessTest : public LauncherTest {};

// The damage positions come from fixed seeds, so that every run of the suite checks the same
// ones; KELVOR_DAMAGE_SEED=N takes seed N instead, KELVOR_DAMAGE_SEED=random a new one.
std::vector<std::uint64_t> damage_seeds() {
    wchar_t value[32];
    if (GetEnvironmentVariableW(L"KELVOR_DAMAGE_SEED", value, 32) == 0) return {1, 2, 3};
    if (std::wstring(value) == L"random") return {std::random_device{}() ^ GetTickCount64()};
    return {std::wcstoull(value, nullptr, 10)};
}

// Single-byte changes anywhere in a checksummed frame: every run either ends with the decode
// message and exit code 2 before the application starts, or runs the application on files
// identical to the intact run's. Never a crash, a hang, damaged files or a file outside TEMP.
TEST_F(RobustnessTest, DamagedFramesAreCaughtBeforeTheApplicationRuns) {
    const Frame frame = frame_of(sample_launcher());
    ASSERT_GT(frame.end, frame.begin + 1000) << "no payload frame found";
    const std::vector<std::wstring> arguments = {L"started", L"digest", L"exit:0"};
    const auto intact = launch(sample_launcher(), arguments);
    ASSERT_EQ(intact.exit_code, 0u) << intact.out << intact.err;
    const auto intact_digest = reported(intact.out, "digest");
    ASSERT_EQ(intact_digest.size(), 1u);

    const auto seeds = damage_seeds();
    std::mt19937_64 random;
    int caught = 0, unchanged = 0;
    for (int i = 0; i < 300; ++i) {
        const std::uint64_t seed = seeds[i * seeds.size() / 300];
        if (i == 0 || seed != seeds[(i - 1) * seeds.size() / 300]) {
            std::printf("damage positions from seed %llu (KELVOR_DAMAGE_SEED=%llu repeats them)\n",
                        static_cast<unsigned long long>(seed), static_cast<unsigned long long>(seed));
            random.seed(seed);
        }
        // A file of its own each time: Wine may still hold the image of the last run's file,
        // and rewriting it in place can then make the next start fail.
        const std::wstring damaged = scratch_ / (L"damaged-" + std::to_wstring(i) + L".exe");
        std::string image = frame.image;
        const size_t at = frame.begin + random() % (frame.end - frame.begin);
        image[at] = static_cast<char>(image[at] ^ (1 + random() % 255));
        write_file(damaged, image);
        ProcessOptions options = launch_options(damaged, arguments);
        options.timeout_ms = 30000;
        const ProcessResult run = launch_with(options);
        const std::string what = "seed " + std::to_string(seed) + ", byte " + std::to_string(at - frame.begin) +
                                 " of " + std::to_string(frame.end - frame.begin);
        ASSERT_FALSE(run.timed_out) << what;
        if (run.exit_code == 2 && run.out == kDecodeMessage) {
            ++caught;
        } else {
            ++unchanged;
            EXPECT_EQ(run.exit_code, 0u) << what << ": " << run.out << run.err;
            EXPECT_EQ(reported(run.out, "digest"), intact_digest) << what << ": the application ran on damaged files";
        }
        const auto left = leftovers();
        EXPECT_LE(left.size(), 1u) << what;
        for (const auto& name : left) EXPECT_EQ(name.rfind(L"onefile_", 0), 0u) << what << ": " << narrow(name);
        remove_tree(temp_);
        CreateDirectoryW(temp_.c_str(), nullptr);
    }
    std::printf("300 changes: %d caught with the decode message, %d ran on intact files\n", caught, unchanged);
    EXPECT_GT(caught, 250);
}

TEST_F(RobustnessTest, SixteenLaunchesAtOnceKeepApart) {
    std::vector<std::unique_ptr<RunningProcess>> runs;
    for (int i = 0; i < 16; ++i) {
        runs.push_back(std::make_unique<RunningProcess>(
            launch_options(probe_launcher(), {L"dll", L"sleep:200", L"exit:" + std::to_wstring(100 + i)})));
    }
    std::set<std::string> directories;
    for (int i = 0; i < 16; ++i) {
        const ProcessResult run = runs[static_cast<size_t>(i)]->wait(60000);
        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.exit_code, static_cast<DWORD>(100 + i));
        const auto dll = reported(run.out, "dll");
        ASSERT_EQ(dll.size(), 1u) << run.out << run.err;
        directories.insert(dll[0].substr(0, dll[0].rfind('\\')));
    }
    EXPECT_EQ(directories.size(), 16u);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(RobustnessTest, AFullDiskIsReported) {
    if (!path_exists(small_disk() + L"\\.kelvor-small-disk")) GTEST_SKIP() << "no small disk mounted (needs root)";
    const std::wstring temp = small_disk() + L"\\temp-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(temp.c_str(), nullptr);
    const auto run = launch(sample_launcher(), {L"exit:0"}, {{L"TMP", temp}, {L"TEMP", temp}});
    remove_tree(temp);
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.err.rfind("Error, couldn't unpack file to target path. ([Error 112] ", 0), 0u) << run.err;
}

TEST_F(RobustnessTest, ATemporaryDirectoryThatCannotBeWrittenIsReported) {
    // The temporary-files directory is a file: nothing can be created below it.
    const std::wstring not_a_directory = scratch_ / L"a-file";
    write_file(not_a_directory, "x");
    const auto run = launch(probe_launcher(), {L"exit:0"}, {{L"TMP", not_a_directory}, {L"TEMP", not_a_directory}});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.err.rfind("Error, failed to open '" + narrow(not_a_directory) + "\\onefile_", 0), 0u) << run.err;
    EXPECT_EQ(read_file(not_a_directory), "x");
}

TEST_F(RobustnessTest, AFileHeldOpenAtCleanUpLeavesTheDirectoryButNotTheExitCode) {
    // A further run of the application outlives the parent's child and holds a file open.
    const ULONGLONG start = GetTickCount64();
    const auto run = launch(probe_launcher(), {L"dll", L"spawn:hold:data\\hello.txt,sleep:3500", L"sleep:300", L"exit:5"});
    const double seconds = (GetTickCount64() - start) / 1000.0;
    EXPECT_EQ(run.exit_code, 5u);
    EXPECT_EQ(run.err, "") << "the clean-up says nothing";
    EXPECT_GE(seconds, 2.0) << "about two seconds of deletion attempts";
    const auto dll = reported(run.out, "dll");
    ASSERT_EQ(dll.size(), 1u);
    EXPECT_TRUE(path_exists(widen(dll[0]))) << "left behind while held";
    Sleep(2000);  // the holder ends; the test's scratch directory takes what is left
}

TEST_F(RobustnessTest, AChildKilledFromOutsideEndsTheParentWithItsCode) {
    RunningProcess parent(launch_options(probe_launcher(), {L"pid", L"dll", L"sleep:30000"}));
    DWORD child_id = 0;
    for (int i = 0; i < 200 && child_id == 0; ++i) {
        const auto pid = reported(parent.output_so_far(), "pid");
        if (!pid.empty() && !reported(parent.output_so_far(), "dll").empty()) child_id = std::stoul(pid[0]);
        Sleep(50);
    }
    ASSERT_NE(child_id, 0u);
    HANDLE child = OpenProcess(PROCESS_TERMINATE, FALSE, child_id);
    ASSERT_NE(child, nullptr);
    TerminateProcess(child, 77);
    CloseHandle(child);
    const ProcessResult run = parent.wait(30000);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 77u);
    EXPECT_TRUE(leftovers().empty()) << "the parent still removes the directory";
}

TEST_F(RobustnessTest, AParentKilledWhileUnpackingLeavesThePartialDirectory) {
    // As designed: only a normal end or a console event removes the target directory.
    RunningProcess parent(launch_options(large_launcher(), {L"started", L"exit:0"}));
    std::vector<std::wstring> left;
    for (int i = 0; i < 400 && left.empty(); ++i) {
        left = leftovers();
        Sleep(5);
    }
    ASSERT_EQ(left.size(), 1u) << "the target directory never appeared";
    TerminateProcess(parent.handle(), 9);
    const ProcessResult run = parent.wait(30000);
    EXPECT_EQ(run.exit_code, 9u);
    EXPECT_EQ(reported(run.out, "started").size(), 0u);
    EXPECT_EQ(leftovers(), left) << "the partial directory stays";
}

// A folder that only the current user may enter, as a run makes its own.
void make_owner_only_folder(const std::wstring& path) {
    HANDLE token = nullptr;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
    unsigned char user[256];
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, user, sizeof user, &size);
    CloseHandle(token);
    wchar_t* sid = nullptr;
    ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid);
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, FALSE};
    ConvertStringSecurityDescriptorToSecurityDescriptorW((L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")").c_str(),
                                                         SDDL_REVISION_1, &security.lpSecurityDescriptor, nullptr);
    LocalFree(sid);
    EXPECT_TRUE(CreateDirectoryW(path.c_str(), &security)) << narrow(path);
    LocalFree(security.lpSecurityDescriptor);
}

// The child run of a launcher whose parent the probe killed ("pid" first, "kill-parent" next).
HANDLE surviving_child(const ProcessResult& killed) {
    EXPECT_EQ(killed.exit_code, 9u) << killed.out << killed.err;
    const auto pid = reported(killed.out, "pid");
    return pid.empty() ? nullptr : OpenProcess(SYNCHRONIZE, FALSE, std::stoul(pid[0]));
}

// A run killed with TerminateProcess leaves its folder; the next start of any launcher with
// the default template removes it, and nothing else: not the folder of a run that lives (its
// parent alive, or only its child), nor folders that look alike but carry other security or a
// name the template never gives.
TEST_F(RobustnessTest, LeftoversOfKilledRunsAreReclaimedAtTheNextStart) {
    const std::wstring signal = scratch_ / L"go";
    RunningProcess alive(launch_options(probe_launcher(), {L"started", L"await:" + signal, L"exit:0"}));
    for (int i = 0; i < 600 && reported(alive.output_so_far(), "started").empty(); ++i) Sleep(50);
    HANDLE orphan = surviving_child(launch(probe_launcher(), {L"pid", L"kill-parent", L"await:" + signal, L"exit:0"}));
    const auto live = leftovers();
    HANDLE dead = surviving_child(launch(probe_launcher(), {L"pid", L"kill-parent", L"exit:0"}));
    if (dead != nullptr) {
        WaitForSingleObject(dead, 30000);
        CloseHandle(dead);
    }
    ASSERT_EQ(live.size(), 2u) << "two runs live";
    std::vector<std::wstring> leftover = leftovers();
    for (const auto& name : live) leftover.erase(std::find(leftover.begin(), leftover.end(), name));
    ASSERT_EQ(leftover.size(), 1u) << "the killed run left its folder";
    CreateDirectoryW((temp_ + L"\\onefile_12_123456_AAAAAAAAAAA").c_str(), nullptr);
    for (const auto* name : {L"onefile_12_123456_AAAAAAAAAA", L"onefile_12_12345_AAAAAAAAAAA", L"onefile_x_123456_AAAAAAAAAAA",
                             L"onefile_12_123456_AAAAAAAAAAA.old", L"other"}) {
        make_owner_only_folder(temp_ + L"\\" + name);
    }
    std::vector<std::wstring> before = leftovers();
    ASSERT_EQ(before.size(), 9u);

    EXPECT_EQ(launch(probe_launcher(), {L"exit:0"}).exit_code, 0u);
    std::vector<std::wstring> after = leftovers();
    before.erase(std::find(before.begin(), before.end(), leftover[0]));
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before);
    for (const auto& name : live) EXPECT_EQ(read_tree(temp_ + L"\\" + name).size(), 5u) << "a live run's files";

    write_file(signal, "");
    alive.wait(30000);
    if (orphan != nullptr) {
        WaitForSingleObject(orphan, 30000);
        CloseHandle(orphan);
    }
}

// A temporary-files directory that does not exist yet: the run creates it and every missing
// folder above it, and removes each again, deepest first, when empty; a folder that something
// else has filled meanwhile stays.
TEST_F(RobustnessTest, FoldersCreatedForTheTargetAreRemovedWithIt) {
    const std::wstring cwd = scratch_ / L"cwd";
    CreateDirectoryW(cwd.c_str(), nullptr);
    for (const std::wstring& temp : {temp_ + L"\\missing\\deep\\er", std::wstring(L"rel\\tmp")}) {
        const auto run = launch(probe_launcher(), {L"dll", L"exit:4"}, {{L"TMP", temp}, {L"TEMP", temp}}, cwd);
        EXPECT_EQ(run.exit_code, 4u) << run.out << run.err;
        EXPECT_EQ(reported(run.out, "dll").size(), 1u) << narrow(temp);
        EXPECT_TRUE(leftovers().empty()) << narrow(temp);
        EXPECT_FALSE(path_exists(cwd + L"\\rel")) << narrow(temp);
    }
    const std::wstring temp = temp_ + L"\\missing\\deep\\er";
    const std::wstring signal = scratch_ / L"go";
    RunningProcess run(
        launch_options(probe_launcher(), {L"started", L"await:" + signal, L"exit:4"}, {{L"TMP", temp}, {L"TEMP", temp}}));
    for (int i = 0; i < 600 && reported(run.output_so_far(), "started").empty(); ++i) Sleep(50);
    write_file(temp_ + L"\\missing\\deep\\kept.txt", "another's");
    write_file(signal, "");
    EXPECT_EQ(run.wait(30000).exit_code, 4u);
    EXPECT_EQ(read_file(temp_ + L"\\missing\\deep\\kept.txt"), "another's");
    EXPECT_FALSE(path_exists(temp)) << "the emptied folders go";
}

TEST_F(RobustnessTest, ATemporaryDirectoryWithSpacesAndNonAsciiCharacters) {
    const std::wstring temp = scratch_ / L"t\u00ebmp dir \u65e5\u672c";
    CreateDirectoryW(temp.c_str(), nullptr);
    const auto run = launch(probe_launcher(), {L"dll", L"import", L"exit:6"}, {{L"TMP", temp}, {L"TEMP", temp}});
    EXPECT_EQ(run.exit_code, 6u) << run.err;
    const auto dll = reported(run.out, "dll");
    ASSERT_EQ(dll.size(), 1u);
    EXPECT_EQ(dll[0].rfind(narrow(temp) + "\\onefile_", 0), 0u) << dll[0];
    EXPECT_EQ(reported(run.out, "dependency").size(), 1u);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((temp + L"\\*").c_str(), &found);
    int entries = 0;
    do entries += wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0;
    while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_EQ(entries, 0) << "removed after the run";
}

TEST_F(RobustnessTest, ATargetDirectoryTooDeepForTheNamesEndsAtTheGuard) {
    // With a TEMP of 100 characters the launcher's template makes a target directory of 4,090,
    // which fits its buffer; the first entry's path does not, and the run ends before anything
    // is written.
    std::wstring temp = temp_ + L"\\";
    ASSERT_LT(temp.size(), 100u);
    temp.append(100 - temp.size(), L't');
    const auto run = launch(deep_launcher(), {L"exit:0"}, {{L"TMP", temp}, {L"TEMP", temp}});
    EXPECT_EQ(run.exit_code, 3u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(leftovers().empty()) << "nothing written";
}

TEST_F(RobustnessTest, StaleValuesFromAnEarlierRunAreNeverReused) {
    const auto run = launch(probe_launcher(), {L"dll", L"env:KELVOR_ONEFILE_TIME_US", L"env:KELVOR_ONEFILE_RANDOM"},
                            {{L"KELVOR_ONEFILE_TIME_US", L"999999"}, {L"KELVOR_ONEFILE_RANDOM", L"staleRandom"},
                             {L"KELVOR_ONEFILE_START", L"1"}, {L"KELVOR_ONEFILE_PARENT", L"1"}});
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    const auto dll = reported(run.out, "dll");
    ASSERT_EQ(dll.size(), 1u);
    EXPECT_EQ(dll[0].find("999999"), std::string::npos) << dll[0];
    EXPECT_EQ(dll[0].find("staleRandom"), std::string::npos) << dll[0];
    for (const auto& value : reported(run.out, "env")) {
        EXPECT_EQ(value.find("999999"), std::string::npos);
        EXPECT_EQ(value.find("staleRandom"), std::string::npos);
    }
}

TEST_F(RobustnessTest, AChildWhoseInheritedValuesChangedFailsToLoad) {
    const auto run = launch(probe_launcher(), {L"setenv:KELVOR_ONEFILE_RANDOM=changedRand", L"nested:exit:0"});
    EXPECT_EQ(run.exit_code, 0u);
    EXPECT_EQ(reported(run.out, "nested"), std::vector<std::string>{"exit=2"});
    EXPECT_EQ(run.err.rfind("Error, load DLL. ([Error 126] ", 0), 0u) << run.err;
    EXPECT_TRUE(leftovers().empty());
}

}  // namespace
}  // namespace kelvor::testing
