// The resource section (".rsrc") of a launcher executable, written by the tool itself: the
// resource directory tree of types, ids and languages, its data entries, then the resources'
// bytes. The launcher's resources are those the resource script of an executable linked by
// hand gives, with the same ids and language, so that both read the same through the system's
// calls: the version resource, the icon group with its images, the application manifest.
#pragma once

#include <cstdint>
#include <vector>

#include "icon_set.h"
#include "image_data_source.h"

namespace kelvor {

// The resource types by number, as winuser.h names them.
enum ResourceType : std::uint16_t { rt_icon = 3, rt_group_icon = 14, rt_version = 16, rt_manifest = 24 };

struct Resource {
    std::uint16_t type;
    std::uint16_t id;
    std::uint16_t language;
    std::vector<unsigned char> data;
};

// The launcher's resources, in the script's ids and its language (neutral): RT_VERSION 1, the
// icon group 1 whose images are RT_ICON 1 to 7 in the order of icons, RT_MANIFEST 1.
std::vector<Resource> launcher_resources(const BuildStrings& strings, const std::vector<IconImage>& icons);

// The section's bytes, for a section that the loader maps at virtual address section_address
// (its data entries hold addresses). Every resource's data starts 8-byte aligned. Each
// (type, id, language) at most once.
std::vector<unsigned char> resource_section(std::vector<Resource> resources, std::uint32_t section_address);

}  // namespace kelvor
