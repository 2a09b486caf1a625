#include "build_options.h"

#include "icon_set.h"
#include "launcher_linking.h"
#include "path_template_rules.h"
#include "path_template/path_template_variables.h"
#include "tool_paths.h"
#include "version_resource.h"

namespace kelvor {

OptionTable build_string_options() {
    const std::string version_numbers = "N[.N[.N[.N]]]";
    return {
        {{"--company"}, "TEXT", "company name ({COMPANY}, CompanyName)"},
        {{"--product"}, "TEXT", "product name ({PRODUCT}, ProductName)"},
        {{"--version"}, version_numbers,
         "file version ({VERSION}, {FILE_VERSION}, FileVersion);\nthe numbers left out are 0"},
        {{"--product-version"}, version_numbers, "product version ({PRODUCT_VERSION}, ProductVersion)"},
        {{"--description"}, "TEXT",
         "FileDescription (default: the product name)\n"
         "The version resource holds company, product, versions,\n"
         "description and the output's file name (twice) in at most\n" +
             std::to_string(kVersionStringsLimit) + " UTF-16 units together."},
        {{"--icon"}, "DIR|FILE.ico",
         "PNG icons, one of each size (" + icon_sizes_text() +
             "\npixels square), or an .ico of them; each image at most " + std::to_string(kIconImageLimit) +
             "\nbytes, its image data inflating to exactly what its header declares"},
        {{"--template"}, "TEMPLATE",
         "where to unpack (default " + std::string(path_template_language::default_template) + ");\n"
         "its last part must hold {RANDOM}, {TIME_US} or {TIME}, and it may\n"
         "not hold \" < > | ? *, control characters or a ':' but a drive's,\n"
         "nor a part that is a device name (CON, nul.txt), ends in a dot or a\n"
         "space or can be longer than " + std::to_string(kLongestPathPart) + " characters, nor be able to grow\n"
         "longer than " + std::to_string(target_directory_capacity) + " characters"},
    };
}

BuildStrings build_strings_from(const CommandLine& line, const std::string& file_name) {
    BuildStrings strings;
    strings.company = line.value("--company").value_or(strings.company);
    strings.product = line.value("--product").value_or(strings.product);
    strings.version = line.value("--version").value_or(strings.version);
    strings.product_version = line.value("--product-version").value_or(strings.product_version);
    strings.description = line.value("--description").value_or("");
    strings.path_template = line.value("--template").value_or(strings.path_template);
    strings.file_name = utf8_of(path_from_utf8(file_name).filename());
    strings.internal_name = utf8_of(path_from_utf8(file_name).stem());
    return strings;
}

std::filesystem::path icon_source(const CommandLine& line) {
    if (const auto icon = line.path("--icon")) return *icon;
    return installation_path(linking::kIconsDirectory);
}

}  // namespace kelvor
