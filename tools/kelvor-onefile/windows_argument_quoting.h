// One argument of a Windows command line, quoted so that CommandLineToArgvW and the C runtimes
// split it back as it was: the tool's Windows build quotes the programs it starts with it, and
// the Windows tests quote theirs.
#pragma once

#include <cstddef>
#include <string>

namespace kelvor {

// Backslashes count only before a quote, so a run of n of them becomes 2n + 1 before a quote in
// the argument, 2n before the closing quote, and stays n elsewhere.
inline std::wstring quote_argument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(2 * backslashes, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

}  // namespace kelvor
