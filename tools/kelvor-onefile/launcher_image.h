// A prebuilt launcher, read whole and checked, and the launcher executable written from a
// copy of it: the launcher's own bytes, then two sections appended, ".rsrc" with the resources
// and ".kelvor" with the image data (payload/image_data_layout.h), the big one last, and
// headers that agree with them (section table, sizes, the resource data directory, CheckSum).
// No compiler or linker takes part: the launcher's code and its addresses stay as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "image_checksum.h"
#include "payload_block_writer.h"
#include "tool_paths.h"

namespace kelvor {

// The payload block, the executable's last data: its size and checksum, taken while it was
// packed, and a way to write it, so that it streams from where it lies into the executable.
struct StreamedPayload {
    std::uint64_t size = 0;
    ImageChecksum checksum;
    std::function<void(const ByteSink&)> write;
};

class LauncherImage {
public:
    // Reads the file and checks that it is a prebuilt launcher of this tool's version for the
    // subsystem: a PE32+ image for x86-64 with room for two more section headers, no
    // certificate, no resources and no image data. Throws ToolError naming the file and what is
    // wrong with it.
    LauncherImage(const std::filesystem::path& path, Subsystem subsystem);

    // The virtual address of the resource section, which its data entries point into.
    std::uint32_t resource_section_address() const;

    // Writes the launcher executable to out: resources (laid out for
    // resource_section_address()) in ".rsrc", the image data's head and the payload in
    // ".kelvor". Returns the number of bytes written. Throws ToolError when the image would
    // exceed what its 32-bit sizes hold.
    std::uint64_t write_executable(const std::vector<unsigned char>& resources,
                                   const std::vector<unsigned char>& image_data_head, const StreamedPayload& payload,
                                   const ByteSink& out) const;

private:
    std::vector<unsigned char> bytes_;
    std::size_t file_header_ = 0;      // offset of the file header
    std::size_t optional_header_ = 0;  // offset of the optional header
    std::size_t section_table_ = 0;    // offset of the section table
    std::uint16_t sections_ = 0;
    std::uint32_t file_alignment_ = 0;
    std::uint32_t section_alignment_ = 0;
    std::uint64_t image_end_ = 0;  // the first virtual address after every section
};

}  // namespace kelvor
