#include "launcher_image.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "file_contents.h"
#include "little_endian.h"
#include "payload/image_data_layout.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

using Bytes = std::vector<unsigned char>;

// The PE32+ format's offsets and values that the tool reads or writes (winnt.h's names).
namespace pe {
constexpr std::size_t kNewHeaderPointer = 0x3C;  // e_lfanew
constexpr std::size_t kFileHeader = 4;           // after "PE\0\0"
constexpr std::size_t kMachine = 0, kNumberOfSections = 2, kSizeOfOptionalHeader = 16, kCharacteristics = 18;
constexpr std::size_t kOptionalHeader = kFileHeader + 20;
// In the optional header:
constexpr std::size_t kMagic = 0, kSizeOfInitializedData = 8, kSectionAlignment = 32, kFileAlignment = 36,
                      kSizeOfImage = 56, kSizeOfHeaders = 60, kCheckSum = 64, kSubsystem = 68,
                      kNumberOfRvaAndSizes = 108, kDataDirectories = 112;
constexpr std::size_t kResourceDirectory = 2, kSecurityDirectory = 4;
// In a section header:
constexpr std::size_t kSectionHeaderBytes = 40;
constexpr std::size_t kVirtualSize = 8, kVirtualAddress = 12, kSizeOfRawData = 16, kPointerToRawData = 20,
                      kSectionCharacteristics = 36;

constexpr std::uint16_t kAmd64 = 0x8664;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::uint16_t kExecutableImage = 0x0002, kDll = 0x2000;
constexpr std::uint16_t kGuiSubsystem = 2, kConsoleSubsystem = 3;
// Initialized data that may be read and never written or executed.
constexpr std::uint32_t kReadOnlyData = 0x00000040 | 0x40000000;
constexpr char kResourceSectionName[8] = {'.', 'r', 's', 'r', 'c', '\0', '\0', '\0'};
}  // namespace pe

std::uint64_t align(std::uint64_t value, std::uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }


bool power_of_two(std::uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

// The zeros that pad a section to the file alignment.
void write_zeros(const ByteSink& out, std::uint64_t count) {
    static const unsigned char zeros[4096] = {};
    for (; count > 0; count -= std::min<std::uint64_t>(count, sizeof zeros)) {
        out(zeros, static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof zeros)));
    }
}

}  // namespace

LauncherImage::LauncherImage(const std::filesystem::path& path, Subsystem subsystem)
    : bytes_(read_whole_file(path, kLargestImageBytes, "a launcher")) {
    const auto fault = [&](const std::string& what) {
        return ToolError("'" + utf8_of(path) + "' is not a prebuilt launcher: " + what);
    };
    const auto field = [&](std::size_t at, std::size_t count) -> std::uint64_t {
        if (at + count > bytes_.size() || at + count < at) throw fault("its headers are cut short");
        return read_le(&bytes_[at], count);
    };
    if (bytes_.size() < 64 || bytes_[0] != 'M' || bytes_[1] != 'Z') throw fault("it is not a Windows executable");
    const std::size_t nt = field(pe::kNewHeaderPointer, 4);
    if (field(nt, 4) != 0x00004550) throw fault("it has no PE header");  // "PE\0\0"
    file_header_ = nt + pe::kFileHeader;
    optional_header_ = nt + pe::kOptionalHeader;
    const auto characteristics = field(file_header_ + pe::kCharacteristics, 2);
    if (field(file_header_ + pe::kMachine, 2) != pe::kAmd64 || field(optional_header_ + pe::kMagic, 2) != pe::kPe32Plus ||
        !(characteristics & pe::kExecutableImage) || (characteristics & pe::kDll)) {
        throw fault("it is not a PE32+ executable for x86-64");
    }
    const std::uint64_t optional_size = field(file_header_ + pe::kSizeOfOptionalHeader, 2);
    const std::uint64_t directories = field(optional_header_ + pe::kNumberOfRvaAndSizes, 4);
    if (directories <= pe::kSecurityDirectory ||
        optional_size < pe::kDataDirectories + 8 * std::min<std::uint64_t>(directories, 16)) {
        throw fault("its optional header is too short");
    }
    const auto subsystem_field = field(optional_header_ + pe::kSubsystem, 2);
    const auto expected = subsystem == Subsystem::console ? pe::kConsoleSubsystem : pe::kGuiSubsystem;
    if (subsystem_field != expected) {
        throw fault(std::string("it is not a ") + (subsystem == Subsystem::console ? "console" : "GUI") + " program");
    }
    file_alignment_ = static_cast<std::uint32_t>(field(optional_header_ + pe::kFileAlignment, 4));
    section_alignment_ = static_cast<std::uint32_t>(field(optional_header_ + pe::kSectionAlignment, 4));
    if (!power_of_two(file_alignment_) || file_alignment_ < 512 || file_alignment_ > 0x10000 ||
        !power_of_two(section_alignment_) || section_alignment_ < file_alignment_) {
        throw fault("its alignments are not a PE image's");
    }
    const auto directory = [&](std::size_t index) {
        return field(optional_header_ + pe::kDataDirectories + 8 * index, 8);
    };
    if (directory(pe::kSecurityDirectory) != 0) throw fault("it is signed (a copy with sections added would not be)");
    if (directory(pe::kResourceDirectory) != 0) throw fault("it has resources already");

    section_table_ = optional_header_ + optional_size;
    sections_ = static_cast<std::uint16_t>(field(file_header_ + pe::kNumberOfSections, 2));
    const std::uint64_t headers_size = field(optional_header_ + pe::kSizeOfHeaders, 4);
    std::uint64_t first_data = headers_size;
    image_end_ = align(headers_size, section_alignment_);
    for (std::uint16_t i = 0; i < sections_; ++i) {
        const std::size_t section = section_table_ + pe::kSectionHeaderBytes * i;
        field(section, 8);  // the name, within the file
        const unsigned char* name = &bytes_[section];
        if (std::memcmp(name, image_data_layout::section_name, 8) == 0) throw fault("it has image data already");
        if (std::memcmp(name, pe::kResourceSectionName, 8) == 0) throw fault("it has resources already");
        const auto raw_size = field(section + pe::kSizeOfRawData, 4), raw_at = field(section + pe::kPointerToRawData, 4);
        if (raw_size > 0) {
            if (raw_at + raw_size > bytes_.size()) throw fault("a section lies beyond the end of the file");
            first_data = std::min(first_data, raw_at);
        }
        const auto end = field(section + pe::kVirtualAddress, 4) +
                         std::max(field(section + pe::kVirtualSize, 4), raw_size);
        image_end_ = std::max(image_end_, align(end, section_alignment_));
    }
    // The two new section headers go where the table ends, in the headers' room before the
    // first section's data: moving the sections would move what the launcher's code addresses.
    if (section_table_ + pe::kSectionHeaderBytes * (sections_ + 2) > std::min(headers_size, first_data)) {
        throw fault("its headers have no room for two more sections");
    }
    image_end_ = std::max(image_end_, align(field(optional_header_ + pe::kSizeOfImage, 4), section_alignment_));

    // The identity: the prefix, then the launcher's version up to a NUL.
    const std::string prefix = KELVOR_LAUNCHER_IDENTITY_PREFIX;
    const auto found = std::search(bytes_.begin(), bytes_.end(), prefix.begin(), prefix.end());
    if (found == bytes_.end()) throw fault("it carries no kelvor-onefile launcher identity");
    std::string version;
    for (auto at = found + static_cast<long>(prefix.size()); at != bytes_.end() && *at != 0 && version.size() < 32; ++at) {
        version.push_back(static_cast<char>(*at));
    }
    if (version != KELVOR_ONEFILE_VERSION) {
        throw ToolError("'" + utf8_of(path) + "' is a launcher of kelvor-onefile " + version + "; this tool is " +
                        KELVOR_ONEFILE_VERSION);
    }
}

std::uint32_t LauncherImage::resource_section_address() const { return static_cast<std::uint32_t>(image_end_); }

std::uint64_t LauncherImage::write_executable(const std::vector<unsigned char>& resources,
                                              const std::vector<unsigned char>& image_data_head,
                                              const StreamedPayload& payload, const ByteSink& out) const {
    // Where the two sections lie in the file and in memory.
    const std::uint64_t resources_at = align(bytes_.size(), file_alignment_);
    const std::uint64_t resources_raw = align(resources.size(), file_alignment_);
    const std::uint64_t resources_address = image_end_;
    const std::uint64_t data_size = image_data_head.size() + payload.size;
    const std::uint64_t data_at = resources_at + resources_raw;
    const std::uint64_t data_raw = align(data_size, file_alignment_);
    const std::uint64_t data_address = align(resources_address + resources.size(), section_alignment_);
    const std::uint64_t image_size = align(data_address + data_size, section_alignment_);
    const std::uint64_t file_size = data_at + data_raw;
    if (image_size > 0xFFFFFFFF || file_size > kLargestImageBytes) {
        throw ToolError("the payload is too large for an executable: the image would take " +
                        std::to_string(std::max(image_size, file_size)) + " bytes, and Windows allows at most " +
                        std::to_string(kLargestImageBytes));
    }

    Bytes launcher = bytes_;
    const auto add_section = [&](std::size_t index, const char (&name)[8], std::uint64_t virtual_size,
                                 std::uint64_t address, std::uint64_t raw_size, std::uint64_t raw_at) {
        const std::size_t at = section_table_ + pe::kSectionHeaderBytes * index;
        std::fill_n(launcher.begin() + static_cast<long>(at), pe::kSectionHeaderBytes, 0);
        std::copy(std::begin(name), std::end(name), launcher.begin() + static_cast<long>(at));
        put_le(launcher, at + pe::kVirtualSize, virtual_size, 4);
        put_le(launcher, at + pe::kVirtualAddress, address, 4);
        put_le(launcher, at + pe::kSizeOfRawData, raw_size, 4);
        put_le(launcher, at + pe::kPointerToRawData, raw_at, 4);
        put_le(launcher, at + pe::kSectionCharacteristics, pe::kReadOnlyData, 4);
    };
    add_section(sections_, pe::kResourceSectionName, resources.size(), resources_address, resources_raw, resources_at);
    add_section(sections_ + 1, image_data_layout::section_name, data_size, data_address, data_raw, data_at);
    put_le(launcher, file_header_ + pe::kNumberOfSections, sections_ + 2, 2);
    const std::size_t initialized = optional_header_ + pe::kSizeOfInitializedData;
    put_le(launcher, initialized, read_le(&launcher[initialized], 4) + resources_raw + data_raw, 4);
    put_le(launcher, optional_header_ + pe::kSizeOfImage, image_size, 4);
    const std::size_t resource_directory = optional_header_ + pe::kDataDirectories + 8 * pe::kResourceDirectory;
    put_le(launcher, resource_directory, resources_address, 4);
    put_le(launcher, resource_directory + 4, resources.size(), 4);
    put_le(launcher, optional_header_ + pe::kCheckSum, 0, 4);

    // The file in order, each piece summed and written alike; the payload was summed as it
    // was packed.
    const Bytes padding_after_launcher(resources_at - launcher.size(), 0);
    const Bytes padding_after_resources(resources_raw - resources.size(), 0);
    const Bytes* const pieces[] = {&launcher, &padding_after_launcher, &resources, &padding_after_resources,
                                   &image_data_head};
    ImageChecksum checksum;
    for (const Bytes* piece : pieces) checksum.add(piece->data(), piece->size());
    checksum.add(payload.checksum);
    const std::uint64_t padding_after_data = data_raw - data_size;
    checksum.add(Bytes(static_cast<std::size_t>(padding_after_data), 0).data(), static_cast<std::size_t>(padding_after_data));
    put_le(launcher, optional_header_ + pe::kCheckSum, checksum.value(), 4);

    std::uint64_t written = 0;
    const ByteSink counted = [&](const void* data, std::size_t count) {
        out(data, count);
        written += count;
    };
    for (const Bytes* piece : pieces) counted(piece->data(), piece->size());
    payload.write(counted);
    write_zeros(counted, padding_after_data);
    if (written != file_size || payload.checksum.length() != payload.size) {
        throw ToolError("the payload changed while the executable was written");
    }
    return written;
}

}  // namespace kelvor
