#include "image_sources.h"

#include "application_manifest.h"
#include "atomic_output_file.h"
#include "icon_set.h"
#include "interruption.h"
#include "path_template_rules.h"
#include "text_encoding.h"
#include "tool_error.h"
#include "utf8_paths.h"
#include "version_resource.h"

namespace kelvor {

namespace {

// The directory is a temporary one (see TemporariesLock).
void write_bytes(const std::filesystem::path& path, const void* data, size_t size) {
    TemporariesLock held;
    write_whole_file(path, data, size);
}

void write_text(const std::filesystem::path& path, const std::string& text) {
    write_bytes(path, text.data(), text.size());
}

}  // namespace

void check_build_strings(const BuildStrings& strings) {
    check_version_strings(strings);
    version_numbers("the version", strings.version);
    version_numbers("the product version", strings.product_version);
    check_path_template(strings.path_template, {{"COMPANY", strings.company},
                                                {"PRODUCT", strings.product},
                                                {"VERSION", strings.version},
                                                {"FILE_VERSION", strings.version},
                                                {"PRODUCT_VERSION", strings.product_version}});
}

ImageSources write_image_sources(const std::filesystem::path& directory, const std::filesystem::path& payload,
                                 const BuildStrings& given, const std::filesystem::path& icon) {
    BuildStrings strings = given;
    if (strings.description.empty()) strings.description = strings.product;
    check_build_strings(strings);
    const auto icons = read_icon_set(icon);

    ImageSources sources{directory / path_from_utf8("image-data.S"), directory / path_from_utf8("resources.rc")};
    std::error_code unknown;
    const auto payload_size = std::filesystem::file_size(payload, unknown);
    if (unknown) throw ToolError("cannot read the size of " + utf8_of(payload) + ": " + unknown.message());
    const auto head = image_data_head(strings, payload_size);
    write_bytes(directory / path_from_utf8("image-data.head"), head.data(), head.size());
    write_text(sources.assembly, image_data_source(directory / path_from_utf8("image-data.head"), payload));
    const auto ico = ico_file(icons);
    write_bytes(directory / path_from_utf8("icon.ico"), ico.data(), ico.size());
    write_text(directory / path_from_utf8("application.manifest"), kApplicationManifest);
    // Named relative to the script, where the resource compiler looks first: no path of the
    // user's is in it, whatever characters it holds.
    write_text(sources.resources, resource_script(strings, path_from_utf8("icon.ico"), path_from_utf8("application.manifest")));
    return sources;
}

}  // namespace kelvor
