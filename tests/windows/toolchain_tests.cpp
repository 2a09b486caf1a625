// The platform under the launcher: the target's zstd decodes what the host packer wrote, and
// the programs we build need nothing but the system's DLLs.
#include <gtest/gtest.h>

#include <zstd.h>

#include "launcher_runs.h"
#include "test_arguments.h"
#include "windows_test_support.h"

namespace kelvor::testing {
namespace {

std::uint64_t get_le(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

std::vector<unsigned char> decode_whole_frame(const std::string& block) {
    ZSTD_DCtx* context = ZSTD_createDCtx();
    std::vector<unsigned char> decoded;
    std::vector<unsigned char> piece(ZSTD_DStreamOutSize());
    ZSTD_inBuffer input{block.data() + 3, block.size() - 3, 0};
    size_t result = 1;
    while (result != 0) {
        ZSTD_outBuffer output{piece.data(), piece.size(), 0};
        result = ZSTD_decompressStream(context, &output, &input);
        if (ZSTD_isError(result)) break;
        decoded.insert(decoded.end(), piece.begin(), piece.begin() + static_cast<long>(output.pos));
    }
    ZSTD_freeDCtx(context);
    EXPECT_FALSE(ZSTD_isError(result));
    return decoded;
}

// Splits an entry stream into names and contents.
std::map<std::wstring, std::string> split_entries(const std::vector<unsigned char>& stream,
                                                  std::wstring& first_name) {
    std::map<std::wstring, std::string> files;
    size_t at = 0;
    for (;;) {
        std::wstring name;
        while (at + 2 <= stream.size() && get_le(&stream[at], 2) != 0) {
            name.push_back(static_cast<wchar_t>(get_le(&stream[at], 2)));
            at += 2;
        }
        at += 2;
        if (name.empty()) break;
        const auto size = get_le(&stream[at], 8);
        at += 8;
        files[name] = std::string(stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + size));
        at += size;
        if (first_name.empty()) first_name = name;
    }
    EXPECT_EQ(at, stream.size()) << "bytes after the end marker";
    return files;
}

TEST(TargetZstd, DecodesThePackersPayloadIntoTheSampleTree) {
    const std::string block = read_file(test_data_path(L"sample.payload"));
    ASSERT_EQ(block.substr(0, 3), "KAY");
    std::wstring first_name;
    const auto files = split_entries(decode_whole_frame(block), first_name);
    EXPECT_EQ(first_name, L"app.dll");
    EXPECT_EQ(files, read_tree(test_data_path(L"sample-tree")));
}

// API sets (api-ms-win-*) belong to the system; every other import must be a DLL of the
// system directory, never a runtime DLL of the toolchain.
bool is_system_dll(const std::string& name) {
    std::string lower;
    for (const char c : name) lower.push_back(static_cast<char>(tolower(static_cast<unsigned char>(c))));
    if (lower.rfind("api-ms-win-", 0) == 0 || lower.rfind("ext-ms-win-", 0) == 0) return true;
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return path_exists(std::wstring(system) + L"\\" + widen(name));
}

TEST(ImportTable, NamesOnlySystemDlls) {
    ASSERT_FALSE(test_arguments().empty()) << "the build passes the programs to check";
    for (const auto& program : test_arguments()) {
        const auto names = imported_dll_names(program);
        EXPECT_FALSE(names.empty()) << narrow(program);
        for (const auto& name : names) EXPECT_TRUE(is_system_dll(name)) << narrow(program) << " imports " << name;
    }
}

// A run loads only what it needs: the DLLs that only a parent run's file creation (advapi32)
// or a template's shell folder (shell32) need are looked up at run time.
TEST(ImportTable, TheLauncherLeavesAdvapiAndShellToRunTime) {
    const std::wstring& launcher = test_arguments().at(3);  // the probe, a launcher like any other
    for (const auto& name : imported_dll_names(launcher)) {
        std::string lower;
        for (const char c : name) lower.push_back(static_cast<char>(tolower(static_cast<unsigned char>(c))));
        EXPECT_NE(lower, "advapi32.dll");
        EXPECT_NE(lower, "shell32.dll");
    }
}

// shell32 brings the windowing DLLs with it. Neither run of the default template loads it (the
// launcher splits its command line itself); a template that names a shell folder loads it in
// both runs, which both expand the template.
TEST_F(LauncherTest, OnlyATemplateThatNamesAShellFolderLoadsTheShell) {
    const std::pair<const std::wstring*, const char*> cases[] = {
        {&test_arguments().at(3), "shell32.dll child=no parent=no"},
        {&test_arguments().at(4), "shell32.dll child=yes parent=yes"},
    };
    for (const auto& [launcher, expected] : cases) {
        const auto run = launch(*launcher, {L"loaded:shell32.dll", L"dll"});
        ASSERT_EQ(run.exit_code, 0u) << run.err;
        EXPECT_EQ(reported(run.out, "loaded"), std::vector<std::string>{expected}) << narrow(*launcher);
        const auto dll = reported(run.out, "dll");
        ASSERT_EQ(dll.size(), 1u);
        EXPECT_FALSE(path_exists(widen(dll[0]))) << "the target directory is removed";
    }
    EXPECT_TRUE(leftovers().empty());
}

}  // namespace
}  // namespace kelvor::testing
