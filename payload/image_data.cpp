#include "payload/image_data.h"

#include <windows.h>

#include <string.h>

#include "payload/image_data_layout.h"

ImageData image_data;

namespace {

namespace layout = image_data_layout;

uint64_t read_le(const unsigned char* bytes, size_t count) {
    uint64_t value = 0;
    for (size_t i = count; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

// The section's bytes in memory: its virtual size, which the loader has mapped whole (past its
// file data it reads zeros).
bool find_section(const unsigned char* image_base, const unsigned char*& start, size_t& size) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image_base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image_base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (memcmp(section->Name, layout::section_name, sizeof layout::section_name) == 0) {
            start = image_base + section->VirtualAddress;
            size = section->Misc.VirtualSize;
            return true;
        }
    }
    return false;
}

// The string at offset, when it is aligned and ends with a NUL within the section.
const wchar_t* string_at(const unsigned char* section, size_t size, uint64_t offset) {
    if (offset % 2 != 0 || offset < layout::header_size || offset >= size) return nullptr;
    for (uint64_t at = offset; at + 2 <= size; at += 2) {
        if (section[at] == 0 && section[at + 1] == 0) return reinterpret_cast<const wchar_t*>(section + offset);
    }
    return nullptr;
}

}  // namespace

bool find_image_data(const unsigned char* image_base, ImageData& data) {
    const unsigned char* section = nullptr;
    size_t size = 0;
    if (!find_section(image_base, section, size) || size < layout::header_size ||
        memcmp(section, layout::magic, sizeof layout::magic) != 0 ||
        read_le(section + layout::format_offset, 4) != layout::format) {
        return false;
    }
    const wchar_t* strings[layout::string_count];
    for (size_t i = 0; i < layout::string_count; ++i) {
        strings[i] = string_at(section, size, read_le(section + layout::string_offsets_offset + 4 * i, 4));
        if (strings[i] == nullptr) return false;
    }
    const uint64_t payload_offset = read_le(section + layout::payload_offset_offset, 8);
    const uint64_t payload_size = read_le(section + layout::payload_size_offset, 8);
    if (payload_offset < layout::header_size || payload_offset > size || payload_size > size - payload_offset) {
        return false;
    }
    data = {section + payload_offset,         static_cast<size_t>(payload_size),
            strings[layout::company],         strings[layout::product],
            strings[layout::version],         strings[layout::product_version],
            strings[layout::path_template]};
    return true;
}
