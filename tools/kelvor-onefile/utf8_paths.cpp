#include "utf8_paths.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kelvor {

#ifdef _WIN32

std::filesystem::path path_from_utf8(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
    return std::filesystem::path(std::move(wide));
}

std::string utf8_of(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    std::string text(WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), static_cast<int>(text.size()), nullptr, nullptr);
    return text;
}

#else

std::filesystem::path path_from_utf8(const std::string& text) { return std::filesystem::path(text); }

std::string utf8_of(const std::filesystem::path& path) { return path.native(); }

#endif

}  // namespace kelvor
