#include "version_resource.h"

#include <cctype>
#include <cstdio>

#include "text_encoding.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

// Every character as a \xNNNN escape: the resource compiler reads the script as bytes, so this
// is the one form in which any UTF-16 text survives it.
std::string wide_literal(const std::string& label, const std::string& utf8) {
    const auto units = utf8_to_utf16(utf8);
    if (!units) throw ToolError(label + " is not valid UTF-8");
    std::string literal = "L\"";
    char escape[8];
    for (const char16_t unit : *units) {
        std::snprintf(escape, sizeof escape, "\\x%04x", static_cast<unsigned>(unit));
        literal += escape;
    }
    return literal + "\"";
}

std::string path_literal(const std::filesystem::path& path) {
    std::string literal = "\"";
    for (const char c : utf8_of(path)) {
        if (c == '"' || c == '\\') literal.push_back('\\');
        literal.push_back(c);
    }
    return literal + "\"";
}

std::string numbers_text(const std::array<std::uint16_t, 4>& numbers) {
    return std::to_string(numbers[0]) + "," + std::to_string(numbers[1]) + "," + std::to_string(numbers[2]) + "," +
           std::to_string(numbers[3]);
}

}  // namespace

std::array<std::uint16_t, 4> version_numbers(const std::string& label, const std::string& version) {
    const ToolError shape(label + " '" + version + "' is not of the form N, N.N, N.N.N or N.N.N.N (N up to 65535)");
    std::array<std::uint16_t, 4> numbers{};
    size_t count = 0;
    size_t at = 0;
    for (;;) {
        size_t end = at;
        while (end < version.size() && std::isdigit(static_cast<unsigned char>(version[end]))) ++end;
        if (end == at || end - at > 5 || count == 4) throw shape;
        const unsigned long number = std::stoul(version.substr(at, end - at));
        if (number > 65535) throw shape;
        numbers[count++] = static_cast<std::uint16_t>(number);
        if (end == version.size()) return numbers;
        if (version[end] != '.') throw shape;
        at = end + 1;
    }
}

std::vector<VersionString> version_strings(const BuildStrings& strings) {
    const std::string& description = strings.description.empty() ? strings.product : strings.description;
    return {{"CompanyName", "--company", strings.company},
            {"ProductName", "--product", strings.product},
            {"ProductVersion", "--product-version", strings.product_version},
            {"FileVersion", "--version", strings.version},
            {"OriginalFilename", "the output's file name", strings.file_name},
            {"InternalName", "the output's file name", strings.internal_name},
            {"FileDescription", strings.description.empty() ? "--product" : "--description", description}};
}

void check_version_strings(const BuildStrings& strings) {
    const auto values = version_strings(strings);
    std::size_t total = 0;
    const VersionString* longest = nullptr;
    std::size_t longest_units = 0;
    for (const auto& value : values) {
        const auto units = utf8_to_utf16(value.text);
        if (!units) throw ToolError(std::string(value.given_by) + " is not valid UTF-8");
        total += units->size();
        if (!longest || units->size() > longest_units) {
            longest = &value;
            longest_units = units->size();
        }
    }
    if (total > kVersionStringsLimit) {
        throw ToolError("the version resource cannot hold its strings: they are " + std::to_string(total) +
                        " UTF-16 units together, and its 16-bit lengths allow at most " +
                        std::to_string(kVersionStringsLimit) + " (the longest, from " + longest->given_by + ", is " +
                        std::to_string(longest_units) + ")");
    }
}

std::string resource_script(const BuildStrings& strings, const std::filesystem::path& icon,
                            const std::filesystem::path& manifest) {
    check_version_strings(strings);
    const auto file_version = version_numbers("the version", strings.version);
    const auto product_version = version_numbers("the product version", strings.product_version);
    std::string script =
        "// Written by kelvor-onefile: the version resource, manifest and icons of a launcher.\n"
        "LANGUAGE 0, 0\n"
        "1 ICON " + path_literal(icon) + "\n"
        "1 24 " + path_literal(manifest) + "\n"
        "1 VERSIONINFO\n"
        "FILEVERSION " + numbers_text(file_version) + "\n"
        "PRODUCTVERSION " + numbers_text(product_version) + "\n"
        "FILEFLAGSMASK 0x3F\n"
        "FILEFLAGS 0x0\n"
        "FILEOS 0x40004\n"  // VOS_NT_WINDOWS32
        "FILETYPE 0x1\n"    // VFT_APP
        "FILESUBTYPE 0x0\n"
        "BEGIN\n"
        "  BLOCK \"StringFileInfo\"\n"
        "  BEGIN\n"
        "    BLOCK \"000004b0\"\n"
        "    BEGIN\n";
    for (const auto& value : version_strings(strings)) {
        script += "      VALUE \"" + std::string(value.key) + "\", " + wide_literal(value.key, value.text) + "\n";
    }
    script +=
        "    END\n"
        "  END\n"
        "  BLOCK \"VarFileInfo\"\n"
        "  BEGIN\n"
        "    VALUE \"Translation\", 0x0000, 0x04B0\n"  // language neutral, UTF-16
        "  END\n"
        "END\n";
    return script;
}

}  // namespace kelvor
