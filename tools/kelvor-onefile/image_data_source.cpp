#include "image_data_source.h"

#include <cstdio>

#include "little_endian.h"
#include "payload/image_data_layout.h"
#include "text_encoding.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

// Every byte that is not printable ASCII as an octal escape, so that any path (a newline in
// TMPDIR, say) reaches the assembler whole.
std::string assembler_string(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code >= 0x7F || c == '"' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\%03o", code);
            quoted += escaped;
        } else {
            quoted.push_back(c);
        }
    }
    return quoted + "\"";
}

}  // namespace

std::vector<unsigned char> image_data_head(const BuildStrings& strings, std::uint64_t payload_size) {
    namespace layout = image_data_layout;
    const struct {
        layout::String which;
        const char* label;
        const std::string& text;
    } texts[] = {{layout::company, "the company name", strings.company},
                 {layout::product, "the product name", strings.product},
                 {layout::version, "the version", strings.version},
                 {layout::product_version, "the product version", strings.product_version},
                 {layout::path_template, "the path template", strings.path_template}};
    std::vector<unsigned char> head(layout::header_size, 0);
    std::copy(std::begin(layout::magic), std::end(layout::magic), head.begin());
    put_le(head, layout::format_offset, layout::format, 4);
    for (const auto& text : texts) {
        const auto units = utf8_to_utf16(text.text);
        if (!units) throw ToolError(std::string(text.label) + " is not valid UTF-8");
        put_le(head, layout::string_offsets_offset + 4 * text.which, head.size(), 4);
        for (const char16_t unit : *units) append_le(head, unit, 2);
        append_le(head, 0, 2);
    }
    head.resize((head.size() + layout::payload_alignment - 1) / layout::payload_alignment * layout::payload_alignment);
    put_le(head, layout::payload_offset_offset, head.size(), 8);
    put_le(head, layout::payload_size_offset, payload_size, 8);
    return head;
}

std::string image_data_source(const std::filesystem::path& head, const std::filesystem::path& payload) {
    return "# Written by kelvor-onefile: the payload block and the build-time strings, in a read-only\n"
           "# section of their own that the launcher finds in its image.\n"
           "    .section .kelvor,\"dr\"\n"
           "    .p2align 4\n"
           "    .incbin " + assembler_string(utf8_of(std::filesystem::absolute(head))) + "\n"
           "    .incbin " + assembler_string(utf8_of(std::filesystem::absolute(payload))) + "\n";
}

}  // namespace kelvor
