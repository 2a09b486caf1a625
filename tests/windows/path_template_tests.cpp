// Path templates: the scanner, every variable, and the values that are made once and then
// reused through the environment.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <regex>

#include "expect_aborts.h"
#include "path_template/path_template.h"
#include "path_template/random_text.h"
#include "windows_test_support.h"

namespace kelvor::testing {
namespace {

const wchar_t* const kLauncherVariables[] = {L"KELVOR_ONEFILE_PARENT", L"KELVOR_ONEFILE_START",
                                             L"KELVOR_ONEFILE_TIME_US", L"KELVOR_ONEFILE_RANDOM"};

std::wstring variable(const wchar_t* name) {
    wchar_t value[32768];
    const DWORD length = GetEnvironmentVariableW(name, value, 32768);
    return std::wstring(value, length);
}

std::wstring without_trailing_backslashes(std::wstring path) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

// Each test starts with none of the launcher's variables, with the temporary-files directory
// pointed at a scratch directory of its own, and with a known argument 0.
class PathTemplateTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const wchar_t* name : kLauncherVariables) SetEnvironmentVariableW(name, nullptr);
        saved_tmp_ = variable(L"TMP");
        saved_temp_ = variable(L"TEMP");
        temp_ = scratch_.path() + L"\\\\";  // two trailing backslashes, both to be removed
        SetEnvironmentVariableW(L"TMP", temp_.c_str());
        SetEnvironmentVariableW(L"TEMP", temp_.c_str());
        saved_arguments_ = *__p___wargv();
        set_argument_zero(L"C:\\app\\run.EXE");
    }
    void TearDown() override {
        SetEnvironmentVariableW(L"TMP", saved_tmp_.c_str());
        SetEnvironmentVariableW(L"TEMP", saved_temp_.c_str());
        *__p___wargv() = saved_arguments_;
        for (const wchar_t* name : kLauncherVariables) SetEnvironmentVariableW(name, nullptr);
    }
    void set_argument_zero(const wchar_t* argument) {
        argument_zero_ = argument;
        arguments_[0] = argument_zero_.data();
        arguments_[1] = nullptr;
        *__p___wargv() = arguments_;
    }
    // The expansion with the capacity the driver uses, or a given one.
    std::pair<bool, std::wstring> expand(const std::wstring& path_template, size_t capacity = 4096) {
        std::wstring output(capacity + 1, L'#');
        const bool ok = expand_path_template(output.data(), path_template.c_str(), capacity);
        return {ok, output.c_str()};
    }
    std::wstring temp_directory() const {
        wchar_t temp[MAX_PATH + 1];
        const DWORD length = GetTempPathW(MAX_PATH + 1, temp);
        return without_trailing_backslashes(std::wstring(temp, length));
    }

    ScratchDirectory scratch_;
    std::wstring saved_tmp_;
    std::wstring saved_temp_;
    std::wstring temp_;
    wchar_t** saved_arguments_ = nullptr;
    std::wstring argument_zero_;
    wchar_t* arguments_[2] = {};
};

struct ScannerCase {
    const wchar_t* path_template;
    bool ok;
    std::wstring output;
};

TEST_F(PathTemplateTest, ScannerRules) {
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    const ScannerCase cases[] = {
        {L"plain\\text", true, L"plain\\text"},
        {L"", true, L""},
        {L"abc{TEMP", true, L"abc"},          // a name still open at the end is dropped
        {L"{}", false, L""},
        {L"{NOPE}", false, L""},
        {L"x{NOPE}", false, L"x"},
        {L"x}y", false, L"x"},                // a "}" outside a name
        {L"{A{PID}", true, pid},              // a second "{" starts the name again
        {L"{PID}{PID}", true, pid + pid},
        {L"{COMPANY}|{PRODUCT}|{VERSION}|{FILE_VERSION}|{PRODUCT_VERSION}", true,
         L"Test Company|Test Product|1.2.3.4|1.2.3.4|5.6"},
        {L"{company}-{Product}", true, L"Test Company-Test Product"},
    };
    for (const auto& c : cases) {
        const auto [ok, output] = expand(c.path_template);
        EXPECT_EQ(ok, c.ok) << narrow(c.path_template);
        EXPECT_EQ(output, c.output) << narrow(c.path_template);
    }
}

TEST_F(PathTemplateTest, NamesAreMatchedWithoutRegardToCase) {
    const std::wstring temp = temp_directory();
    for (const wchar_t* spelling : {L"{TEMP}", L"{temp}", L"{Temp}", L"{tEmP}"}) {
        EXPECT_EQ(expand(spelling), std::make_pair(true, temp)) << narrow(spelling);
    }
}

TEST_F(PathTemplateTest, NamesTooLongForTheNameBufferAreUnknown) {
    EXPECT_FALSE(expand(L"{" + std::wstring(1023, L'N') + L"}").first);
    EXPECT_FALSE(expand(L"{" + std::wstring(1024, L'N') + L"}").first);
    EXPECT_FALSE(expand(L"{" + std::wstring(5000, L'T') + L"}").first);
    // A name that overflowed and then restarted is judged on its own.
    EXPECT_TRUE(expand(L"{" + std::wstring(3000, L'x') + L"{PID}").first);
}

TEST_F(PathTemplateTest, LiteralsFailSoftlyAtTheCapacityAndValuesAbort) {
    EXPECT_EQ(expand(L"abcde", 5), std::make_pair(true, std::wstring(L"abcde")));
    EXPECT_EQ(expand(L"abcdef", 5), std::make_pair(false, std::wstring(L"abcde")));
    EXPECT_EQ(expand(L"{COMPANY}", 12), std::make_pair(true, std::wstring(L"Test Company")));
    EXPECT_ABORTS(expand(L"{COMPANY}", 11));
    EXPECT_ABORTS(expand(L"x{PRODUCT}", 12));
}

TEST_F(PathTemplateTest, FoldersLoseTrailingBackslashesOnly) {
    const std::wstring temp = temp_directory();
    ASSERT_EQ(temp, without_trailing_backslashes(scratch_.path()));
    EXPECT_EQ(expand(L"{TEMP}\\x\\"), std::make_pair(true, temp + L"\\x\\"));

    wchar_t folder[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, folder), S_OK);
    EXPECT_EQ(expand(L"{HOME}"), std::make_pair(true, without_trailing_backslashes(folder)));
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder), S_OK);
    EXPECT_EQ(expand(L"{CACHE_DIR}"), std::make_pair(true, without_trailing_backslashes(folder)));

    // Only the folder's own backslashes go, not the text before it: a drive root gives its
    // bare drive and the template's backslash stays.
    SetEnvironmentVariableW(L"TMP", L"\\");
    SetEnvironmentVariableW(L"TEMP", L"\\");
    ASSERT_EQ(temp_directory().size(), 2u);
    EXPECT_EQ(expand(L"a\\{TEMP}\\"), std::make_pair(true, L"a\\" + temp_directory() + L"\\"));
}

TEST_F(PathTemplateTest, TemporaryDirectoryThatDoesNotFitIsEmpty) {
    EXPECT_EQ(expand(L"{TEMP}", 3), std::make_pair(true, std::wstring()));
}

TEST_F(PathTemplateTest, ProgramVariablesComeFromArgumentZero) {
    struct Case {
        const wchar_t* argument;
        const wchar_t* program_base;
        const wchar_t* program_dir;
    };
    const Case cases[] = {
        {L"C:\\app\\run.EXE", L"C:\\app\\run", L"C:\\app"},
        {L"run.exe", L"run", L"run.exe"},
        {L"exe", L"exe", L"exe"},
        {L".exe", L"", L".exe"},
        {L"relative\\tool", L"relative\\tool", L"relative"},
    };
    for (const auto& c : cases) {
        set_argument_zero(c.argument);
        EXPECT_EQ(expand(L"{PROGRAM}"), std::make_pair(true, std::wstring(c.argument)));
        EXPECT_EQ(expand(L"{PROGRAM_BASE}"), std::make_pair(true, std::wstring(c.program_base))) << narrow(c.argument);
        EXPECT_EQ(expand(L"{PROGRAM_DIR}"), std::make_pair(true, std::wstring(c.program_dir))) << narrow(c.argument);
    }
    set_argument_zero(L"C:\\dir\\tool.exe");
    EXPECT_EQ(expand(L"<{PROGRAM_DIR}|{PROGRAM_BASE}>"), std::make_pair(true, std::wstring(L"<C:\\dir|C:\\dir\\tool>")));
}

TEST_F(PathTemplateTest, MissingArgumentZeroAborts) {
    EXPECT_ABORTS({
        wchar_t* none[] = {nullptr};
        *__p___wargv() = none;
        expand(L"{PROGRAM}");
    });
}

TEST_F(PathTemplateTest, PidComesFromTheParentVariableWhenSet) {
    EXPECT_EQ(expand(L"{PID}"), std::make_pair(true, std::to_wstring(GetCurrentProcessId())));
    SetEnvironmentVariableW(L"KELVOR_ONEFILE_PARENT", L"0042");
    EXPECT_EQ(expand(L"{PID}"), std::make_pair(true, std::wstring(L"0042")));
    SetEnvironmentVariableW(L"KELVOR_ONEFILE_PARENT", L"");
    EXPECT_EQ(expand(L"{PID}"), std::make_pair(true, std::to_wstring(GetCurrentProcessId())));
    EXPECT_EQ(variable(L"KELVOR_ONEFILE_PARENT"), L"") << "PID never stores its value";
    SetEnvironmentVariableW(L"KELVOR_ONEFILE_PARENT", L"42a");
    EXPECT_EQ(expand(L"{PID}"), std::make_pair(true, std::to_wstring(GetCurrentProcessId())))
        << "a value of another form counts as unset";
}

TEST_F(PathTemplateTest, RandomIsReusedFromTheEnvironmentOrMadeAndStored) {
    SetEnvironmentVariableW(L"KELVOR_ONEFILE_RANDOM", L"Ab-_0123456");
    EXPECT_EQ(expand(L"{RANDOM}"), std::make_pair(true, std::wstring(L"Ab-_0123456")));

    SetEnvironmentVariableW(L"KELVOR_ONEFILE_RANDOM", L"");
    const auto [ok, twice] = expand(L"{RANDOM}_{RANDOM}");
    ASSERT_TRUE(ok);
    ASSERT_EQ(twice.size(), 23u);
    const std::wstring made = twice.substr(0, 11);
    EXPECT_EQ(twice, made + L"_" + made);
    EXPECT_TRUE(std::regex_match(narrow(made), std::regex("[A-Za-z0-9_-]{11}"))) << narrow(made);
    EXPECT_EQ(variable(L"KELVOR_ONEFILE_RANDOM"), made);
    EXPECT_EQ(expand(L"{RANDOM}").second, made) << "a later expansion reuses it";
}

// Only a value of the form the launcher itself makes is reused; anything else is replaced by
// a fresh value, so nothing from outside is ever joined into a path.
TEST_F(PathTemplateTest, ReusedValuesOfAnotherFormCountAsUnset) {
    const struct {
        const wchar_t* variable;
        const wchar_t* template_text;
        std::vector<const wchar_t*> kept, replaced;
    } cases[] = {
        {L"KELVOR_ONEFILE_RANDOM", L"{RANDOM}", {L"AAAAAAAAAAA", L"z9-_z9-_z9-"},
         {L"abc", L"AAAAAAAAAA", L"AAAAAAAAAAAA", L"x\\..\\..\\ev", L"AAAAAAAAAA.", L"AAAAA AAAAA", L"AAAAAAAAAA\u00e9"}},
        {L"KELVOR_ONEFILE_TIME_US", L"{TIME_US}", {L"000000", L"999999"},
         {L"12345", L"1234567", L"12a456", L"-12345", L" 12345", L"0\\..\\x", L"\u0661\u0662\u0663\u0664\u0665\u0666"}},
        {L"KELVOR_ONEFILE_START", L"{TIME}", {L"1", L"133456789012345678"},
         {L"-1", L"+1", L"1 ", L"1\\..\\x", L"0x10"}},
    };
    for (const auto& c : cases) {
        for (const wchar_t* value : c.kept) {
            SetEnvironmentVariableW(c.variable, value);
            EXPECT_EQ(expand(c.template_text), std::make_pair(true, std::wstring(value))) << narrow(value);
        }
        for (const wchar_t* value : c.replaced) {
            SetEnvironmentVariableW(c.variable, value);
            const auto [ok, made] = expand(c.template_text);
            EXPECT_TRUE(ok);
            EXPECT_NE(made, value) << narrow(value);
            EXPECT_EQ(variable(c.variable), made) << narrow(value) << ": the fresh value is stored";
        }
    }
}

TEST_F(PathTemplateTest, TimeIsAFiletimeCountKeptInTheStartVariable) {
    const auto [ok, time] = expand(L"{TIME}");
    ASSERT_TRUE(ok);
    EXPECT_TRUE(std::regex_match(narrow(time), std::regex("[0-9]{18}"))) << narrow(time);
    EXPECT_EQ(variable(L"KELVOR_ONEFILE_START"), time);
    EXPECT_EQ(expand(L"{TIME}").second, time);
}

TEST_F(PathTemplateTest, TimeUsIsAlwaysSixDigits) {
    for (int i = 0; i < 200; ++i) {
        SetEnvironmentVariableW(L"KELVOR_ONEFILE_TIME_US", nullptr);
        const auto [ok, micros] = expand(L"{TIME_US}");
        ASSERT_TRUE(ok);
        ASSERT_TRUE(std::regex_match(narrow(micros), std::regex("[0-9]{6}"))) << narrow(micros);
        ASSERT_EQ(variable(L"KELVOR_ONEFILE_TIME_US"), micros);
    }
}

TEST_F(PathTemplateTest, LaunchersTemplateWithKnownValues) {
    SetEnvironmentVariableW(L"TMP", L"C:\\T\\");
    SetEnvironmentVariableW(L"TEMP", L"C:\\T\\");
    SetEnvironmentVariableW(L"KELVOR_ONEFILE_PARENT", L"4242");
    SetEnvironmentVariableW(L"KELVOR_ONEFILE_TIME_US", L"001234");
    SetEnvironmentVariableW(L"KELVOR_ONEFILE_RANDOM", L"r0123456789");
    EXPECT_EQ(expand(L"{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}"),
              std::make_pair(true, std::wstring(L"C:\\T\\onefile_4242_001234_r0123456789")));
}

TEST(RandomText, XorshiftVectors) {
    struct Case {
        uint32_t seed;
        unsigned char bytes[8];
        const wchar_t* text;
    };
    // Worked out by hand from xorshift32 (13, 17, 5), the low byte of each step.
    const Case cases[] = {
        {0, {0x21, 0x01, 0xc5, 0x4f, 0xd1, 0xd0, 0x1a, 0xb2}, L"IQHFT9HQGrI"},  // 0 becomes 1
        {1, {0x21, 0x01, 0xc5, 0x4f, 0xd1, 0xd0, 0x1a, 0xb2}, L"IQHFT9HQGrI"},
        {0x12345678, {0xa5, 0xa3, 0xc4, 0x98, 0x88, 0x4d, 0x1d, 0x29}, L"paPEmIhNHSk"},
        {0xFFFFFFFF, {0x1f, 0xff, 0x43, 0xda, 0x91, 0xec, 0xb0, 0xfb}, L"H_9D2pHssPs"},
    };
    for (const auto& c : cases) {
        unsigned char bytes[8];
        fill_random_bytes_from_seed(c.seed, bytes);
        EXPECT_EQ(std::string(bytes, bytes + 8), std::string(c.bytes, c.bytes + 8)) << c.seed;
        wchar_t text[random_text_units];
        encode_random_text(bytes, text);
        EXPECT_STREQ(text, c.text) << c.seed;
    }
}

TEST(RandomText, UsesTheFileNameSafeAlphabetAndEndsInTwoZeroBits) {
    const std::pair<std::string, const wchar_t*> cases[] = {
        {std::string(8, '\0'), L"AAAAAAAAAAA"},
        {std::string(8, '\xff'), L"__________8"},  // the last character is 111100
        {std::string("\x00\x01\x02\x03\x04\x05\x06\x07", 8), L"AAECAwQFBgc"},
        {std::string("\xfb\xef\xbe\xfb\xef\xbe\xfb\xef", 8), L"----------8"},
    };
    for (const auto& [bytes, expected] : cases) {
        wchar_t text[random_text_units];
        encode_random_text(reinterpret_cast<const unsigned char*>(bytes.data()), text);
        EXPECT_STREQ(text, expected);
    }
}

TEST(RandomText, TwoDrawsDiffer) {
    unsigned char first[8], second[8];
    fill_random_bytes(first);
    Sleep(1);
    fill_random_bytes(second);
    EXPECT_NE(std::string(first, first + 8), std::string(second, second + 8));
}

}  // namespace
}  // namespace kelvor::testing
