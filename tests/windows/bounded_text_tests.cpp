// Bounded wide text: what fits, what ends the run, and the runtime's formatters.
#include <gtest/gtest.h>

#include "expect_aborts.h"
#include "text/bounded_text.h"

namespace {

TEST(BoundedAppend, TextOfExactlyTheCapacityFitsAndOneMoreAborts) {
    wchar_t buffer[6] = L"abcd";  // capacity 5, holding capacity - 1
    append_wide_char(buffer, L'e', 5);
    EXPECT_STREQ(buffer, L"abcde");
    EXPECT_ABORTS(append_wide_char(buffer, L'f', 5));

    wchar_t again[6] = L"abcd";
    EXPECT_ABORTS(append_wide(again, L"ef", 5));
    append_wide(again, L"e", 5);
    EXPECT_STREQ(again, L"abcde");
}

TEST(BoundedAppend, EmptyAndMissingSources) {
    wchar_t buffer[8] = L"keep";
    append_wide(buffer, L"", 7);
    EXPECT_STREQ(buffer, L"keep");
    copy_wide(buffer, L"", 7);
    EXPECT_STREQ(buffer, L"");
    EXPECT_ABORTS(append_wide(buffer, nullptr, 7));
}

TEST(BoundedCopy, ReplacesTheOldTextAndMayCopyOntoItself) {
    wchar_t buffer[9] = L"old text";
    copy_wide(buffer, L"new", 8);
    EXPECT_STREQ(buffer, L"new");
    copy_wide(buffer, buffer, 3);
    EXPECT_STREQ(buffer, L"new");
    EXPECT_ABORTS(copy_wide(buffer, buffer, 2));
    EXPECT_ABORTS(copy_wide(buffer, L"123456789", 8));
}

TEST(NarrowAsWide, WidensEachByteOnItsOwn) {
    wchar_t buffer[40] = L"";
    append_narrow_as_wide(buffer, "KELVOR_ONEFILE_START", 39);
    EXPECT_STREQ(buffer, L"KELVOR_ONEFILE_START");
    EXPECT_EQ(wcslen(buffer), 20u);
    EXPECT_ABORTS(append_narrow_as_wide(buffer, "12345678901234567890", 39));
}

TEST(DecimalNumber, IsOneOrMoreAsciiDigitsAndNothingElse) {
    for (const wchar_t* good : {L"0042", L"7", L"4294967296"}) EXPECT_TRUE(is_decimal_number(good)) << good;
    for (const wchar_t* bad : {L"", L"4 2", L" 42", L"42a", L"-42", L"+42", L"\uff14\uff12", L"\u0664\u0662"}) {
        EXPECT_FALSE(is_decimal_number(bad)) << bad;
    }
    EXPECT_FALSE(is_decimal_number(nullptr));
}

TEST(Formatters, FormatTheLaunchersNumbers) {
    char narrow[128];
    EXPECT_EQ(format_narrow(narrow, sizeof narrow, "%ld", 4242L), 4);
    EXPECT_STREQ(narrow, "4242");
    EXPECT_EQ(format_narrow(narrow, sizeof narrow, "%ld", -17L), 3);
    EXPECT_STREQ(narrow, "-17");

    wchar_t wide[128];
    EXPECT_EQ(format_wide(wide, 128, L"%06ld", 1234L), 6);
    EXPECT_STREQ(wide, L"001234");
    EXPECT_EQ(format_wide(wide, 128, L"%lld", 133123456789012345LL), 18);
    EXPECT_STREQ(wide, L"133123456789012345");
}

TEST(Formatters, NarrowAlwaysTerminatesAndTellsTheFullLength) {
    char small[4] = "xxx";
    EXPECT_EQ(format_narrow(small, sizeof small, "%ld", 123456L), 6);
    EXPECT_STREQ(small, "123");
}

TEST(Formatters, WideReportsNoRoomAsMinusOne) {
    EXPECT_EQ(format_wide(nullptr, 0, L"%ld", 1L), -1);
    wchar_t small[4];
    EXPECT_EQ(format_wide(small, 4, L"%ld", 123456L), -1);
}

}  // namespace
