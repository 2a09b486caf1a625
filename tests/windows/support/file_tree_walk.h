// The one walk over a folder tree of the Windows tests and the probe application: every file
// below root, depth first, by its path relative to root, with what the search found for it.
#pragma once

#include <windows.h>

#include <string>

namespace kelvor::testing {

template <class Visit>
void for_each_file(const std::wstring& root, Visit visit, const std::wstring& relative = L"") {
    const std::wstring directory = relative.empty() ? root : root + L"\\" + relative;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((directory + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = relative.empty() ? name : relative + L"\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for_each_file(root, visit, child);
        } else {
            visit(child, found);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace kelvor::testing
