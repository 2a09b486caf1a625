// The launcher's command lines: its own split gives exactly what the system's
// CommandLineToArgvW gives, on the corners and on generated lines, and what its quoting writes
// splits back as it was.
//
// The generated lines come from a fixed list of seeds. KELVOR_SPLIT_SEED=random draws a new
// seed, KELVOR_SPLIT_SEED=N repeats seed N; every seed used is printed.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <random>

#include "command_line/argument_quoting.h"
#include "command_line/argument_splitting.h"
#include "windows_test_support.h"

namespace kelvor::testing {
namespace {

using Arguments = std::vector<std::wstring>;

Arguments system_split(const std::wstring& line) {
    int count = 0;
    wchar_t** split = CommandLineToArgvW(line.c_str(), &count);
    if (split == nullptr) throw std::runtime_error("CommandLineToArgvW failed");
    Arguments arguments(split, split + count);
    LocalFree(split);
    return arguments;
}

Arguments our_split(const std::wstring& line) {
    int count = -1;
    wchar_t** split = split_command_line(line.c_str(), &count);
    if (split == nullptr) throw std::runtime_error("split_command_line found no memory");
    Arguments arguments(split, split + count);
    if (split[count] != nullptr) ADD_FAILURE() << "the vector does not end with a null pointer";
    free(split);
    return arguments;
}

// The line with its tabs, line ends and non-ASCII units spelled out, so that a failure shows it.
std::string shown(const std::wstring& line) {
    std::string out = "[";
    char unit[12];
    for (const wchar_t c : line) {
        if (c >= 0x20 && c < 0x7f) {
            out.push_back(static_cast<char>(c));
        } else {
            std::snprintf(unit, sizeof unit, "<%x>", static_cast<unsigned>(c));
            out += unit;
        }
    }
    return out + "]";
}

std::string shown(const Arguments& arguments) {
    std::string out;
    for (const auto& argument : arguments) out += " " + shown(argument);
    return out;
}

TEST(SplitCommandLine, MatchesTheSystemOnTheCorners) {
    const std::wstring corners[] = {
        // An empty line is the program's own file name; leading blanks make an empty program
        // name; only spaces and tabs separate.
        L"", L" ", L"        ", L"\t", L" \t ", L" a b", L"\tx", L"p a\nb\vc\rd", L"p\u00a0q r\u3000s", L"p\x01 q",
        // The program name: quoted to the next quote only, then the next argument begins; not
        // quoted, a quote is a character. No escapes.
        L"\"", L"\"\"", L"\"\" x", L"\"a b\" c", L"\"a\"b c", L"\"a b", L"a\"b c\"d e", L"\"a\\\"b c", L"\\\"a b",
        L"\"C:\\a b\\\" x", L"\"a\"  ",
        // Later arguments: quotes, doubled quotes inside quotes, backslashes before quotes.
        L"p \"", L"p \"\"", L"p \"\" \"\"", L"p a \"\"", L"p \"a\"\"b c\" d", L"p a\"b\"\"c d\"e", L"p \"a b\"\"\" c",
        L"p \"\"\"\"", L"p \"\"\"\"\"", L"p \"\"\"\"\"\"", L"p \\\\\"a b\"", L"p a\\\\\\\"b", L"p \"a\\\\\"\"b\"",
        L"p a\\b\\\\ c\\", L"p\t\tq\t",
        // As many arguments as a line can hold, and a line at the system's length limit.
        L"p" + std::wstring(16383, L' ') + L"x", [] {
            std::wstring line = L"p";
            for (int i = 0; i < 10922; ++i) line += L" \"\"";
            return line;
        }(),
        [] {
            std::wstring line = L"p";
            for (int i = 0; i < 16383; ++i) line += L" a";
            return line;
        }(),
        std::wstring(32767, L'"')};
    for (const auto& line : corners) {
        const Arguments expected = system_split(line);
        const Arguments actual = our_split(line);
        if (line.size() < 100) {
            EXPECT_EQ(actual, expected) << shown(line) << "\n ours:" << shown(actual) << "\n system:" << shown(expected);
        } else {
            EXPECT_EQ(actual, expected) << "a line of " << line.size() << " units";
        }
    }
}

// Lines of up to 24 units drawn from the characters the rules treat apart, and others.
std::wstring generated_line(std::mt19937_64& random) {
    static const std::wstring alphabet = L"\"\"\"\\\\\\   \t\tab\u00e9\u65e5\u00a0\u3000\xd83d";
    std::wstring line;
    const size_t length = random() % 25;
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = alphabet[random() % alphabet.size()];
        line.push_back(c);
        if (c == 0xd83d) line.push_back(0xde00);  // a character beyond the basic plane
    }
    return line;
}

std::vector<std::uint64_t> seeds() {
    const char* requested = std::getenv("KELVOR_SPLIT_SEED");
    if (requested == nullptr || *requested == '\0') return {1, 2, 3};
    if (std::string(requested) == "random") {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return {static_cast<std::uint64_t>(now.QuadPart) ^ (std::uint64_t{GetCurrentProcessId()} << 40)};
    }
    return {std::strtoull(requested, nullptr, 10)};
}

TEST(SplitCommandLine, MatchesTheSystemOnGeneratedLines) {
    constexpr int lines_per_seed = 40000;
    for (const std::uint64_t seed : seeds()) {
        std::printf("seed %llu: %d lines\n", static_cast<unsigned long long>(seed), lines_per_seed);
        std::fflush(stdout);
        std::mt19937_64 random(seed);
        int differences = 0;
        for (int i = 0; i < lines_per_seed && differences < 5; ++i) {
            const std::wstring line = generated_line(random);
            const Arguments expected = system_split(line);
            const Arguments actual = our_split(line);
            if (actual != expected) {
                ++differences;
                ADD_FAILURE() << "seed " << seed << ", line " << i << ": " << shown(line) << "\n ours:" << shown(actual)
                              << "\n system:" << shown(expected);
            }
        }
    }
}

// Each argument, appended to a command line, splits back as it was: the child's line and the
// runner's line are both made this way.
TEST(ArgumentQuoting, EveryArgumentSplitsBackExactly) {
    const wchar_t* const arguments[] = {
        L"plain", L"two words", L"tab\there", L"say \"hi\"", L"C:\\a b\\", L"C:\\a\\b", L"ends\\\\",
        L"a\\\\\"b", L"\"", L"\\\\\\\"", L"caf\u00e9 \u65e5\u672c", L"line\nfeed", L"vertical\vtab", L"  ", L"\\"};
    std::vector<wchar_t> line(32769, L'\0');
    append_command_line_argument(line.data(), L"C:\\program files\\app.exe", 32768);
    for (const wchar_t* argument : arguments) append_command_line_argument(line.data(), argument, 32768);
    append_command_line_argument(line.data(), L"", 32768);  // adds nothing
    Arguments expected = {L"C:\\program files\\app.exe"};
    expected.insert(expected.end(), std::begin(arguments), std::end(arguments));
    EXPECT_EQ(system_split(line.data()), expected) << narrow(line.data());
}

}  // namespace
}  // namespace kelvor::testing
