// Entry names: what the packer lets into a payload, given that the launcher joins every name
// to its target directory verbatim.
#include <gtest/gtest.h>

#include "entry_names.h"
#include "tool_error.h"
#include "tool_support.h"

namespace kelvor {
namespace {

struct NameCase {
    const char* label;
    std::vector<std::string> components;
    const char16_t* expected;  // null: rejected
    const char* reason;        // part of the message for a rejected name
};

class EntryNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(EntryNameTest, AcceptsOrRejects) {
    const NameCase& c = GetParam();
    if (c.expected) {
        EXPECT_EQ(make_entry_name(c.components, "shown"), std::u16string(c.expected));
        return;
    }
    try {
        make_entry_name(c.components, "shown");
        FAIL() << "accepted " << c.label;
    } catch (const ToolError& error) {
        EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, EntryNameTest,
    ::testing::Values(
        NameCase{"plain", {"app.dll"}, u"app.dll", nullptr},
        NameCase{"nested", {"data", "sub", "x.bin"}, u"data\\sub\\x.bin", nullptr},
        NameCase{"non-ASCII", {"caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC.txt"}, u"caf\u00E9\\\u65E5\u672C.txt", nullptr},
        NameCase{"astral", {"\xF0\x9F\x98\x80"}, u"\U0001F600", nullptr},
        NameCase{"dots inside", {"a..b", "...x"}, u"a..b\\...x", nullptr},
        NameCase{"console-like but longer", {"CONSOLE.txt", "COM10"}, u"CONSOLE.txt\\COM10", nullptr},
        NameCase{"dot", {"a", ".", "b"}, nullptr, "'.' or '..'"},
        NameCase{"dot dot", {"..", "b"}, nullptr, "'.' or '..'"},
        NameCase{"backslash in a host name", {"a\\..\\..\\evil.dll"}, nullptr, "does not allow"},
        NameCase{"colon (alternate stream or drive)", {"C:evil"}, nullptr, "does not allow"},
        NameCase{"control character", {"a\tb"}, nullptr, "does not allow"},
        NameCase{"wildcard", {"a*b"}, nullptr, "does not allow"},
        NameCase{"trailing dot", {"name."}, nullptr, "dot or a space"},
        NameCase{"trailing space", {"dir ", "x"}, nullptr, "dot or a space"},
        NameCase{"device", {"data", "nul.txt"}, nullptr, "device"},
        NameCase{"device in upper case", {"COM3"}, nullptr, "device"},
        NameCase{"not devices: other digits, longer stems", {"COM0", "LPT\xE2\x81\xB4", "CONIN", "nul_x .log", "AUXX .c"},
                 u"COM0\\LPT\u2074\\CONIN\\nul_x .log\\AUXX .c", nullptr},
        NameCase{"invalid UTF-8", {"bad\xFF"}, nullptr, "UTF-8"},
        NameCase{"overlong UTF-8", {"\xC0\xAF"}, nullptr, "UTF-8"},
        NameCase{"encoded surrogate", {"\xED\xA0\x80"}, nullptr, "UTF-8"},
        NameCase{"truncated sequence", {"\xE6\x97"}, nullptr, "UTF-8"}),
    [](const ::testing::TestParamInfo<NameCase>& param) { return testing::case_name(param.param.label); });

// Names that Windows reads as devices: the part before the first dot, less trailing spaces,
// compared without regard to case, in any component.
INSTANTIATE_TEST_SUITE_P(
    DeviceNames, EntryNameTest,
    ::testing::Values(NameCase{"space before the extension", {"CON .txt"}, nullptr, "device"},
                      NameCase{"lower case with spaces", {"nul   .log"}, nullptr, "device"},
                      NameCase{"dots before the extension", {"aux..x"}, nullptr, "device"},
                      NameCase{"superscript one", {"COM\xC2\xB9"}, nullptr, "device"},
                      NameCase{"superscript two with an extension", {"lpt\xC2\xB2.txt"}, nullptr, "device"},
                      NameCase{"superscript three", {"Com\xC2\xB3"}, nullptr, "device"},
                      NameCase{"console input", {"CONIN$"}, nullptr, "device"},
                      NameCase{"console output with an extension", {"conout$.log"}, nullptr, "device"},
                      NameCase{"printer in a directory", {"data", "Prn .x", "f.txt"}, nullptr, "device"},
                      NameCase{"port nine", {"lPt9.bin"}, nullptr, "device"}),
    [](const ::testing::TestParamInfo<NameCase>& param) { return testing::case_name(param.param.label); });

TEST(EntryNameLength, FitsTheLaunchersBufferExactly) {
    const std::string longest(1023, 'n');
    EXPECT_EQ(make_entry_name({longest}, "shown").size(), 1023u);
    // Each component costs its separator too.
    EXPECT_THROW(make_entry_name({std::string(511, 'a'), std::string(512, 'b')}, "shown"), ToolError);
    EXPECT_THROW(make_entry_name({std::string(1024, 'n')}, "shown"), ToolError);
    // The limit counts UTF-16 units, not bytes: 512 astral characters are 1,024 units.
    std::string astral;
    for (int i = 0; i < 512; ++i) astral += "\xF0\x9F\x98\x80";
    EXPECT_THROW(make_entry_name({astral}, "shown"), ToolError);
}

TEST(CaseFolding, MatchesNamesThatWindowsTakesForOne) {
    EXPECT_EQ(case_folded(u"Data\\File.TXT"), case_folded(u"data\\file.txt"));
    EXPECT_EQ(case_folded(u"\u00C9t\u00E9"), case_folded(u"\u00E9T\u00C9"));
    EXPECT_NE(case_folded(u"a"), case_folded(u"b"));
}

}  // namespace
}  // namespace kelvor
