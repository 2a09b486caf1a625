#include "image_data_source.h"

#include <cstdio>

#include "text_encoding.h"
#include "tool_error.h"

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

std::string wide_string_symbol(const char* symbol, const std::string& label, const std::string& utf8) {
    const auto units = utf8_to_utf16(utf8);
    if (!units) throw ToolError(label + " is not valid UTF-8");
    std::string out = "    .p2align 1\n    .globl " + std::string(symbol) + "\n" + symbol + ":\n    .short ";
    char unit[16];
    for (const char16_t u : *units) {
        std::snprintf(unit, sizeof unit, "0x%04x,", static_cast<unsigned>(u));
        out += unit;
    }
    return out + "0x0000\n";
}

}  // namespace

std::string image_data_source(const std::filesystem::path& payload, const BuildStrings& strings) {
    std::string source =
        "# Written by kelvor-onefile: the payload block and the build-time strings, in read-only data.\n"
        "    .section .rdata,\"dr\"\n"
        "    .p2align 4\n"
        "    .globl kelvor_payload_block\n"
        "kelvor_payload_block:\n"
        "    .incbin " + assembler_string(std::filesystem::absolute(payload).string()) + "\n"
        "kelvor_payload_end:\n"
        "    .p2align 3\n"
        "    .globl kelvor_payload_size\n"
        "kelvor_payload_size:\n"
        "    .quad kelvor_payload_end - kelvor_payload_block\n";
    source += wide_string_symbol("kelvor_company_name", "the company name", strings.company);
    source += wide_string_symbol("kelvor_product_name", "the product name", strings.product);
    source += wide_string_symbol("kelvor_version_string", "the version", strings.version);
    source += wide_string_symbol("kelvor_product_version_string", "the product version", strings.product_version);
    source += wide_string_symbol("kelvor_path_template", "the path template", strings.path_template);
    return source;
}

}  // namespace kelvor
