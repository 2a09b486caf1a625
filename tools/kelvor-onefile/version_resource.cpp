#include "version_resource.h"

#include <cctype>
#include <cstdio>

#include "little_endian.h"
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

// The fixed part's flags, operating system and file type, in the script and in the bytes.
constexpr std::uint32_t kFileFlagsMask = 0x3F;
constexpr std::uint32_t kFileOs = 0x40004;  // VOS_NT_WINDOWS32
constexpr std::uint32_t kFileType = 0x1;    // VFT_APP
constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t kFixedFileInfoVersion = 0x00010000;
// The translation: language neutral, UTF-16.
constexpr std::uint16_t kLanguage = 0x0000;
constexpr std::uint16_t kCodePage = 0x04B0;

std::string hex(std::uint32_t value, int digits = 1) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
    return text;
}

// One structure of the version resource: wType is 1 for text, 0 for binary data; wValueLength
// counts a text's units with its NUL and a binary value's bytes.
struct VersionBlock {
    std::u16string key;
    std::uint16_t type;
    std::vector<unsigned char> value;
    std::uint16_t value_length;
    std::vector<VersionBlock> children;
};

void pad4(std::vector<unsigned char>& out) { out.resize(version_layout::align4(out.size()), 0); }

void append_block(std::vector<unsigned char>& out, const VersionBlock& block) {
    const std::size_t start = out.size();
    append_le(out, 0, 2);  // wLength, known at the end
    append_le(out, block.value_length, 2);
    append_le(out, block.type, 2);
    for (const char16_t unit : block.key) append_le(out, unit, 2);
    append_le(out, 0, 2);
    pad4(out);
    out.insert(out.end(), block.value.begin(), block.value.end());
    for (const auto& child : block.children) {
        pad4(out);
        append_block(out, child);
    }
    put_le(out, start, out.size() - start, 2);
}

std::u16string ascii_units(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

std::vector<unsigned char> packed_version(const std::array<std::uint16_t, 4>& numbers) {
    std::vector<unsigned char> bytes;
    append_le(bytes, std::uint32_t{numbers[0]} << 16 | numbers[1], 4);
    append_le(bytes, std::uint32_t{numbers[2]} << 16 | numbers[3], 4);
    return bytes;
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

std::vector<unsigned char> version_resource(const BuildStrings& strings) {
    check_version_strings(strings);
    const auto file_version = packed_version(version_numbers("the version", strings.version));
    const auto product_version = packed_version(version_numbers("the product version", strings.product_version));
    std::vector<unsigned char> fixed;
    append_le(fixed, kFixedFileInfoSignature, 4);
    append_le(fixed, kFixedFileInfoVersion, 4);
    fixed.insert(fixed.end(), file_version.begin(), file_version.end());
    fixed.insert(fixed.end(), product_version.begin(), product_version.end());
    for (const std::uint32_t field : {kFileFlagsMask, 0u, kFileOs, kFileType, 0u, 0u, 0u}) append_le(fixed, field, 4);

    VersionBlock table{u"000004b0", 1, {}, 0, {}};
    for (const auto& value : version_strings(strings)) {
        std::vector<unsigned char> text;
        const auto units = *utf8_to_utf16(value.text);  // checked above
        for (const char16_t unit : units) append_le(text, unit, 2);
        append_le(text, 0, 2);
        table.children.push_back({ascii_units(value.key), 1, text, static_cast<std::uint16_t>(units.size() + 1), {}});
    }
    std::vector<unsigned char> translation;
    append_le(translation, kLanguage, 2);
    append_le(translation, kCodePage, 2);
    const VersionBlock root{
        u"VS_VERSION_INFO", 0, fixed, static_cast<std::uint16_t>(fixed.size()),
        {{u"StringFileInfo", 1, {}, 0, {table}},
         {u"VarFileInfo", 1, {}, 0, {{u"Translation", 0, translation, version_layout::kTranslationBytes, {}}}}}};
    std::vector<unsigned char> bytes;
    append_block(bytes, root);
    return bytes;
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
        "FILEFLAGSMASK " + hex(kFileFlagsMask) + "\n"
        "FILEFLAGS 0x0\n"
        "FILEOS " + hex(kFileOs) + "\n"
        "FILETYPE " + hex(kFileType) + "\n"
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
        "    VALUE \"Translation\", " + hex(kLanguage, 4) + ", " + hex(kCodePage, 4) + "\n"
        "  END\n"
        "END\n";
    return script;
}

}  // namespace kelvor
