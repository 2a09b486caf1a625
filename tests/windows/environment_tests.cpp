// The environment operations under the launcher's narrow names.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdlib.h>

#include "text/environment.h"

namespace {

std::wstring raw_value(const wchar_t* name) {
    wchar_t buffer[32768];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return L"(unset)";
    return std::wstring(buffer, length);
}

TEST(Environment, MissingAndEmptyVariablesAreBothUnset) {
    SetEnvironmentVariableW(L"KELVOR_TEST_VALUE", nullptr);
    EXPECT_EQ(get_env_copy("KELVOR_TEST_VALUE"), nullptr);
    SetEnvironmentVariableW(L"KELVOR_TEST_VALUE", L"");
    EXPECT_EQ(get_env_copy("KELVOR_TEST_VALUE"), nullptr);
}

TEST(Environment, EachReadIsASeparateCopy) {
    ASSERT_TRUE(set_env("KELVOR_ONEFILE_PARENT", L"1234"));
    wchar_t* first = get_env_copy("KELVOR_ONEFILE_PARENT");
    wchar_t* second = get_env_copy("KELVOR_ONEFILE_PARENT");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_STREQ(first, L"1234");
    EXPECT_STREQ(second, L"1234");
    free(first);
    free(second);
    unset_env("KELVOR_ONEFILE_PARENT");
}

TEST(Environment, LongValuesAreReadWhole) {
    // Near the 32,767-character limit (Wine stops one character short of it).
    const std::wstring largest(32000, L'v');
    ASSERT_TRUE(set_env("KELVOR_TEST_VALUE", largest.c_str()));
    wchar_t* copy = get_env_copy("KELVOR_TEST_VALUE");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(wcslen(copy), largest.size());
    EXPECT_TRUE(std::wstring(copy) == largest);
    free(copy);
    unset_env("KELVOR_TEST_VALUE");
}

TEST(Environment, SetAndUnsetReachTheProcessEnvironment) {
    ASSERT_TRUE(set_env("KELVOR_ONEFILE_RANDOM", L"abc"));
    EXPECT_EQ(raw_value(L"KELVOR_ONEFILE_RANDOM"), L"abc");
    ASSERT_TRUE(unset_env("KELVOR_ONEFILE_RANDOM"));
    EXPECT_EQ(raw_value(L"KELVOR_ONEFILE_RANDOM"), L"(unset)");
}

TEST(Environment, NumbersAreStoredInPlainDecimal) {
    const std::pair<int32_t, const wchar_t*> cases[] = {
        {4242, L"4242"}, {0, L"0"}, {-5, L"-5"}, {2147483647, L"2147483647"}};
    for (const auto& [number, text] : cases) {
        ASSERT_TRUE(set_env_number("KELVOR_ONEFILE_PARENT", number));
        EXPECT_EQ(raw_value(L"KELVOR_ONEFILE_PARENT"), text);
    }
    unset_env("KELVOR_ONEFILE_PARENT");
}

}  // namespace
