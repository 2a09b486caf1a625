#include "application_dll.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "file_contents.h"
#include "little_endian.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

using Bytes = std::vector<unsigned char>;

// The PE fields the check reads, by their offsets in the image's structures.
constexpr std::uint64_t kDosHeaderBytes = 0x40;
constexpr std::uint64_t kPeOffsetField = 0x3C;          // e_lfanew
constexpr std::size_t kSignatureAndFileHeader = 4 + 20;  // "PE\0\0" and IMAGE_FILE_HEADER
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kFlagDll = 0x2000;              // IMAGE_FILE_DLL
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::size_t kDirectoryCountField = 108;       // NumberOfRvaAndSizes in a PE32+ optional header
constexpr std::size_t kExportDirectoryField = 112;      // DataDirectory[0]
constexpr std::size_t kSectionHeaderBytes = 40;
constexpr std::size_t kExportDirectoryBytes = 40;

struct Section {
    std::uint32_t virtual_address;
    std::uint32_t raw_size;
    std::uint32_t raw_offset;
};

// Every field is read through here. The callers check sizes first; a read past the bytes
// would be this code's own fault, so it is a logic_error, never a ToolError.
std::uint32_t field(const Bytes& bytes, std::size_t at, std::size_t count) {
    if (at > bytes.size() || count > bytes.size() - at) throw std::logic_error("a DLL field read past its bytes");
    return static_cast<std::uint32_t>(read_le(&bytes[at], count));
}

// What the image must be: the application DLL, which exports run_code, or the program that the
// runner starts.
enum class Kind { dll, program };

class PeImage {
public:
    PeImage(const std::filesystem::path& path, Kind kind)
        : file_(path), kind_(kind), noun_(kind == Kind::dll ? "DLL" : "program"),
          shown_((kind == Kind::dll ? "application DLL '" : "program '") + utf8_of(path) + "'") {}

    void check() {
        read_headers();
        if (kind_ == Kind::program) return;
        if (!exports_entry(export_directory_rva())) {
            fail("does not export " + std::string(kApplicationEntry) + ", which the launcher calls (export " +
                 "int run_code(int, wchar_t**, const wchar_t*) with extern \"C\" __declspec(dllexport))");
        }
    }

private:
    [[noreturn]] void fail(const std::string& why) const { throw ToolError(shown_ + " " + why); }
    [[noreturn]] void malformed(const std::string& what) const {
        fail("is damaged or not a Windows " + noun_ + " (" + what + ")");
    }

    // Bytes that must lie within the file, or the image is cut short.
    Bytes bytes_at(std::uint64_t offset, std::uint64_t count, const char* what) const {
        if (offset > file_.size() || count > file_.size() - offset) malformed(std::string(what) + " runs past the end of the file");
        return file_.read_at(offset, static_cast<std::size_t>(count));
    }

    // The signature, the file header, the optional header and the section table.
    void read_headers() {
        const std::string not_windows = "is not a Windows " + noun_;
        if (file_.size() < kDosHeaderBytes) fail(not_windows + " (it is only " + std::to_string(file_.size()) + " bytes long)");
        const Bytes dos = file_.read_at(0, kDosHeaderBytes);
        if (dos[0] != 'M' || dos[1] != 'Z') fail(not_windows + " (it does not begin with \"MZ\")");
        const std::uint64_t pe = field(dos, kPeOffsetField, 4);
        const Bytes head = bytes_at(pe, kSignatureAndFileHeader, "the PE header");
        if (std::memcmp(head.data(), "PE\0\0", 4) != 0) fail(not_windows + " (no PE signature)");
        const std::uint16_t machine = static_cast<std::uint16_t>(field(head, 4, 2));
        if (machine == kMachineI386) fail("is a 32-bit " + noun_ + "; " + only_64_bit());
        if (machine != kMachineAmd64) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%04X", machine);
            fail(std::string("is built for machine ") + hex + ", not x86-64");
        }
        const std::size_t section_count = field(head, 6, 2);
        const std::size_t optional_size = field(head, 20, 2);
        const std::uint16_t flags = static_cast<std::uint16_t>(field(head, 22, 2));
        const std::uint64_t optional = pe + kSignatureAndFileHeader;
        optional_ = bytes_at(optional, optional_size, "the optional header");
        if (optional_size < 2) malformed("no optional header");
        const std::uint16_t magic = static_cast<std::uint16_t>(field(optional_, 0, 2));
        if (magic == kMagicPe32) fail("is a 32-bit (PE32) image; " + only_64_bit());
        if (magic != kMagicPe32Plus) malformed("its optional header is neither PE32 nor PE32+");
        if (kind_ == Kind::dll && (flags & kFlagDll) == 0) {
            fail("is a program, not a DLL (its header lacks the DLL flag); pack a program with --exe");
        }
        if (kind_ == Kind::program && (flags & kFlagDll) != 0) {
            fail("is a DLL, not a program (its header has the DLL flag); pack a DLL that exports " +
                 std::string(kApplicationEntry) + " with --app");
        }
        read_sections(optional + optional_size, section_count);
    }

    void read_sections(std::uint64_t offset, std::size_t count) {
        const Bytes table = bytes_at(offset, std::uint64_t{count} * kSectionHeaderBytes, "the section table");
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = i * kSectionHeaderBytes;
            sections_.push_back({field(table, at + 12, 4), field(table, at + 16, 4), field(table, at + 20, 4)});
        }
    }

    std::uint32_t export_directory_rva() const {
        const auto none = [this] {
            fail("exports nothing; the launcher calls its export " + std::string(kApplicationEntry));
        };
        if (optional_.size() < kExportDirectoryField + 8 || field(optional_, kDirectoryCountField, 4) < 1) none();
        const std::uint32_t rva = field(optional_, kExportDirectoryField, 4);
        if (rva == 0) none();
        return rva;
    }

    // The section whose file data holds the address of the loaded image, or none.
    const Section* section_of(std::uint32_t rva) const {
        for (const auto& section : sections_) {
            if (rva >= section.virtual_address && rva - section.virtual_address < section.raw_size) return &section;
        }
        return nullptr;
    }

    // The file offset of count bytes at an address of the loaded image, which must lie in the
    // file data of one section.
    std::uint64_t file_offset(std::uint32_t rva, std::uint64_t count, const char* what) const {
        const Section* section = section_of(rva);
        const std::uint64_t into = section ? rva - section->virtual_address : 0;
        if (!section || count > section->raw_size - into) malformed(std::string(what) + " lies outside its sections");
        return section->raw_offset + into;
    }

    Bytes image_bytes(std::uint32_t rva, std::uint64_t count, const char* what) const {
        return bytes_at(file_offset(rva, count, what), count, what);
    }

    // Whether the name at this address is the entry's, read no further than the section's data.
    bool names_entry(std::uint32_t rva) const {
        const std::uint64_t wanted = sizeof kApplicationEntry;  // with its NUL
        const Section* section = section_of(rva);
        if (!section) malformed("an export name lies outside its sections");
        if (section->raw_size - (rva - section->virtual_address) < wanted) return false;
        return image_bytes(rva, wanted, "an export name") == Bytes(kApplicationEntry, kApplicationEntry + wanted);
    }

    bool exports_entry(std::uint32_t directory_rva) const {
        const Bytes directory = image_bytes(directory_rva, kExportDirectoryBytes, "the export directory");
        const std::uint32_t function_count = field(directory, 20, 4);
        const std::uint32_t name_count = field(directory, 24, 4);
        if (name_count == 0) return false;
        const Bytes names = image_bytes(field(directory, 32, 4), std::uint64_t{name_count} * 4, "the export name table");
        const Bytes ordinals =
            image_bytes(field(directory, 36, 4), std::uint64_t{name_count} * 2, "the export ordinal table");
        for (std::size_t i = 0; i < name_count; ++i) {
            if (!names_entry(field(names, 4 * i, 4))) continue;
            const std::uint32_t ordinal = field(ordinals, 2 * i, 2);
            if (ordinal >= function_count) malformed("the ordinal of " + std::string(kApplicationEntry) + " is out of range");
            const std::uint64_t slot = field(directory, 28, 4) + std::uint64_t{4} * ordinal;
            if (slot > UINT32_MAX) malformed("the export address table lies outside the image");
            const Bytes address = image_bytes(static_cast<std::uint32_t>(slot), 4, "the export address table");
            if (field(address, 0, 4) == 0) malformed(std::string(kApplicationEntry) + " has no address");
            return true;
        }
        return false;
    }

    std::string only_64_bit() const {
        return kind_ == Kind::dll ? "the launcher is 64-bit and loads x86-64 (PE32+) DLLs only"
                                  : "--exe takes 64-bit (x86-64, PE32+) programs only";
    }

    InputFile file_;
    Kind kind_;
    std::string noun_;
    std::string shown_;
    Bytes optional_;
    std::vector<Section> sections_;
};

}  // namespace

void check_application_dll(const std::filesystem::path& path) { PeImage(path, Kind::dll).check(); }

void check_application_program(const std::filesystem::path& path) { PeImage(path, Kind::program).check(); }

}  // namespace kelvor
