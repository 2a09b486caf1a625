#include "resource_section.h"

#include <algorithm>
#include <map>
#include <tuple>

#include "application_manifest.h"
#include "little_endian.h"
#include "tool_error.h"
#include "version_resource.h"

namespace kelvor {

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint16_t kNeutralLanguage = 0;  // LANGUAGE 0, 0 in the resource script
constexpr std::uint16_t kVersionId = 1;
constexpr std::uint16_t kIconGroupId = 1;
constexpr std::uint16_t kFirstIconId = 1;
constexpr std::uint16_t kManifestId = 1;  // CREATEPROCESS_MANIFEST_RESOURCE_ID

constexpr std::size_t kDirectoryBytes = 16;  // IMAGE_RESOURCE_DIRECTORY
constexpr std::size_t kEntryBytes = 8;       // IMAGE_RESOURCE_DIRECTORY_ENTRY
constexpr std::size_t kDataEntryBytes = 16;  // IMAGE_RESOURCE_DATA_ENTRY
constexpr std::uint32_t kSubdirectory = 0x80000000;
constexpr std::size_t kDataAlignment = 8;


// A directory with its entries' ids, all numbered (no named entries), ascending as the
// loader's binary search expects.
void put_directory(Bytes& out, std::size_t at, std::size_t entries) {
    put_le(out, at + 12, 0, 2);        // named entries
    put_le(out, at + 14, entries, 2);  // numbered entries
}

void put_entry(Bytes& out, std::size_t directory, std::size_t index, std::uint16_t id, std::uint32_t target) {
    const std::size_t at = directory + kDirectoryBytes + kEntryBytes * index;
    put_le(out, at, id, 4);
    put_le(out, at + 4, target, 4);
}

}  // namespace

std::vector<Resource> launcher_resources(const BuildStrings& strings, const std::vector<IconImage>& icons) {
    std::vector<Resource> resources;
    for (std::size_t i = 0; i < icons.size(); ++i) {
        resources.push_back({rt_icon, static_cast<std::uint16_t>(kFirstIconId + i), kNeutralLanguage, icons[i].png});
    }
    resources.push_back({rt_group_icon, kIconGroupId, kNeutralLanguage, icon_group(icons, kFirstIconId)});
    resources.push_back({rt_version, kVersionId, kNeutralLanguage, version_resource(strings)});
    const std::string manifest = kApplicationManifest;
    resources.push_back({rt_manifest, kManifestId, kNeutralLanguage, Bytes(manifest.begin(), manifest.end())});
    return resources;
}

std::vector<unsigned char> resource_section(std::vector<Resource> resources, std::uint32_t section_address) {
    const auto key = [](const Resource& r) { return std::make_tuple(r.type, r.id, r.language); };
    std::sort(resources.begin(), resources.end(), [&](const Resource& a, const Resource& b) { return key(a) < key(b); });
    for (std::size_t i = 1; i < resources.size(); ++i) {
        if (key(resources[i - 1]) == key(resources[i])) throw ToolError("a resource is given twice");
    }
    // The tree, level by level: the types, each type's ids, each id's languages (one leaf per
    // resource). A directory's size is known from its number of entries, so every offset is
    // known before anything is written.
    std::map<std::uint16_t, std::map<std::uint16_t, std::size_t>> ids_of_type;  // type -> id -> languages
    for (const auto& resource : resources) ++ids_of_type[resource.type][resource.id];
    const auto directory_bytes = [](std::size_t entries) { return kDirectoryBytes + kEntryBytes * entries; };
    std::size_t tree = directory_bytes(ids_of_type.size());
    for (const auto& [type, ids] : ids_of_type) {
        tree += directory_bytes(ids.size());
        for (const auto& [id, languages] : ids) tree += directory_bytes(languages);
    }
    const std::size_t data_entries = tree;
    std::size_t data = data_entries + kDataEntryBytes * resources.size();
    Bytes out(data, 0);

    std::size_t next_directory = 0;
    const auto new_directory = [&](std::size_t entries) {
        const std::size_t at = next_directory;
        put_directory(out, at, entries);
        next_directory += directory_bytes(entries);
        return at;
    };
    const std::size_t root = new_directory(ids_of_type.size());
    std::size_t leaf = 0;  // the next resource, in sorted order
    std::size_t type_index = 0;
    for (const auto& [type, ids] : ids_of_type) {
        const std::size_t type_directory = new_directory(ids.size());
        put_entry(out, root, type_index++, type, kSubdirectory | static_cast<std::uint32_t>(type_directory));
        std::size_t id_index = 0;
        for (const auto& [id, languages] : ids) {
            const std::size_t id_directory = new_directory(languages);
            put_entry(out, type_directory, id_index++, id, kSubdirectory | static_cast<std::uint32_t>(id_directory));
            for (std::size_t language = 0; language < languages; ++language, ++leaf) {
                const Resource& resource = resources[leaf];
                const std::size_t entry = data_entries + kDataEntryBytes * leaf;
                put_entry(out, id_directory, language, resource.language, static_cast<std::uint32_t>(entry));
                data = (data + kDataAlignment - 1) / kDataAlignment * kDataAlignment;
                put_le(out, entry, section_address + data, 4);  // OffsetToData: an address in the image
                put_le(out, entry + 4, resource.data.size(), 4);
                out.resize(data, 0);
                out.insert(out.end(), resource.data.begin(), resource.data.end());
                data = out.size();
            }
        }
    }
    return out;
}

}  // namespace kelvor
