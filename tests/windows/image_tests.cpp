// The executable image as Windows reads it: the version resource, the manifest, the icon
// group, the header's checksum, the subsystem and stack, and where the payload lies. Checked for an executable built
// by CMake and one built by "kelvor-onefile build", and for a console launcher's subsystem.
#include <gtest/gtest.h>

#include <windows.h>

#include <imagehlp.h>

#include <set>

#include "test_arguments.h"
#include "windows_test_support.h"

namespace kelvor::testing {
namespace {

struct ExpectedImage {
    size_t argument;  // which program of the test's arguments
    const wchar_t* company;
    const wchar_t* product;
    const wchar_t* version;
    const wchar_t* product_version;
    const wchar_t* description;
    const wchar_t* file_name;
    DWORD file_version_ms, file_version_ls, product_version_ms, product_version_ls;
};

const ExpectedImage kImages[] = {
    {0, L"Kelvor Examples", L"Hello", L"1.0.2.0", L"1.0", L"Hello", L"hello.exe", 0x00010000, 0x00020000, 0x00010000, 0},
    {1, L"Kelvor Tests \u00c9", L"Built Hello", L"2.3.4.5", L"2.3", L"Built by the tool", L"hello-built.exe", 0x00020003,
     0x00040005, 0x00020003, 0},
};

class ImageTest : public ::testing::TestWithParam<ExpectedImage> {
protected:
    const std::wstring& program() const { return test_arguments().at(GetParam().argument); }
};

std::wstring version_string(const std::vector<char>& info, const std::wstring& name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = L"\\StringFileInfo\\000004b0\\" + name;
    if (!VerQueryValueW(info.data(), query.c_str(), &value, &length)) return L"(missing)";
    return std::wstring(static_cast<const wchar_t*>(value));
}

TEST_P(ImageTest, VersionResourceHoldsTheBuildStrings) {
    const ExpectedImage& expected = GetParam();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(program().c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(program().c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, expected.file_version_ms);
    EXPECT_EQ(fixed->dwFileVersionLS, expected.file_version_ls);
    EXPECT_EQ(fixed->dwProductVersionMS, expected.product_version_ms);
    EXPECT_EQ(fixed->dwProductVersionLS, expected.product_version_ls);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0000);
    EXPECT_EQ(translation[1], 0x04B0);

    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"CompanyName", expected.company},           {L"ProductName", expected.product},
        {L"ProductVersion", expected.product_version}, {L"FileVersion", expected.version},
        {L"OriginalFilename", expected.file_name},     {L"FileDescription", expected.description}};
    for (const auto& [name, value] : strings) EXPECT_EQ(version_string(info, name), value) << narrow(name);
    std::wstring internal = expected.file_name;
    EXPECT_EQ(version_string(info, L"InternalName"), internal.substr(0, internal.size() - 4));
}

// Resources read from the image itself, loaded as data. The types by number: 24 is the
// manifest, 14 an icon group, 3 one icon.
class LoadedImage {
public:
    explicit LoadedImage(const std::wstring& path)
        : module_(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~LoadedImage() {
        if (module_) FreeLibrary(module_);
    }
    std::string resource(LPCWSTR type, LPCWSTR name) const {
        HRSRC found = FindResourceW(module_, name, type);
        if (!found) return {};
        const void* data = LockResource(LoadResource(module_, found));
        return std::string(static_cast<const char*>(data), SizeofResource(module_, found));
    }

private:
    HMODULE module_;
};

TEST_P(ImageTest, ManifestDeclaresLongPathsAsInvokerAndCommonControls) {
    const std::string manifest = LoadedImage(program()).resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    for (const char* piece : {"<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>",
                              "level=\"asInvoker\" uiAccess=\"false\"",
                              "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                              "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                              "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""}) {
        EXPECT_NE(manifest.find(piece), std::string::npos) << piece;
    }
}

#pragma pack(push, 2)
struct IconDirectoryEntry {
    BYTE width, height, colors, reserved;
    WORD planes, bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_P(ImageTest, OneIconGroupOfSevenPngImages) {
    const LoadedImage image(program());
    const std::string group = image.resource(MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(1));
    ASSERT_GE(group.size(), 6u);
    const WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    ASSERT_EQ(count, 7u);
    ASSERT_EQ(group.size(), 6u + count * sizeof(IconDirectoryEntry));
    std::set<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        const auto* entry = reinterpret_cast<const IconDirectoryEntry*>(group.data() + 6 + i * sizeof(IconDirectoryEntry));
        const int size = entry->width == 0 ? 256 : entry->width;
        EXPECT_EQ(entry->width, entry->height);
        sizes.insert(size);
        const std::string png = image.resource(MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(entry->id));
        EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << size;
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));
}

TEST_P(ImageTest, HeaderChecksumIsTheOneWindowsComputes) {
    DWORD in_header = 0, computed = 0;
    ASSERT_EQ(MapFileAndCheckSumW(program().c_str(), &in_header, &computed), static_cast<DWORD>(CHECKSUM_SUCCESS));
    EXPECT_NE(in_header, 0u);
    EXPECT_EQ(in_header, computed);
}

TEST_P(ImageTest, GuiSubsystemWithA16MibStackAndThePayloadInReadOnlyData) {
    const std::string file = read_file(program());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(file.data() + dos->e_lfanew);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    EXPECT_EQ(nt->OptionalHeader.SizeOfStackReserve, 16u << 20);
    EXPECT_EQ(nt->OptionalHeader.SizeOfStackCommit, 4096u);

    const size_t block = file.find(std::string("KAY\x28\xb5\x2f\xfd", 7));
    ASSERT_NE(block, std::string::npos);
    const auto* sections = IMAGE_FIRST_SECTION(nt);
    const IMAGE_SECTION_HEADER* holder = nullptr;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
        if (block >= sections[i].PointerToRawData && block < sections[i].PointerToRawData + sections[i].SizeOfRawData) {
            holder = &sections[i];
        }
    }
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(holder->Name), 8), std::string(".kelvor\0", 8));
    EXPECT_TRUE(holder->Characteristics & IMAGE_SCN_CNT_INITIALIZED_DATA);
    EXPECT_TRUE(holder->Characteristics & IMAGE_SCN_MEM_READ);
    EXPECT_FALSE(holder->Characteristics & IMAGE_SCN_MEM_WRITE);
    EXPECT_FALSE(holder->Characteristics & IMAGE_SCN_MEM_EXECUTE);
}

// CONSOLE in kelvor_add_onefile (and --console of the tool, whose bytes the package test
// compares with it) changes the subsystem and nothing else of the image's layout.
TEST(ConsoleLauncher, IsAConsoleProgramWithTheSameStack) {
    const std::string file = read_file(test_arguments().at(2));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(file.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(file.data() + dos->e_lfanew);
    EXPECT_EQ(nt->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_CUI);
    EXPECT_EQ(nt->OptionalHeader.SizeOfStackReserve, 16u << 20);
    EXPECT_EQ(nt->OptionalHeader.FileAlignment, 4096u);
}

INSTANTIATE_TEST_SUITE_P(Executables, ImageTest, ::testing::ValuesIn(kImages),
                         [](const ::testing::TestParamInfo<ExpectedImage>& param) {
                             return param.param.argument == 0 ? std::string("BuiltByCMake") : std::string("BuiltByTheTool");
                         });

}  // namespace
}  // namespace kelvor::testing
