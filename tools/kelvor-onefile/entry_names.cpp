#include "entry_names.h"

#include <clocale>
#include <cwctype>
#include <locale.h>

#include "payload/payload_format.h"
#include "text_encoding.h"
#include "tool_error.h"

namespace kelvor {

namespace {

bool is_forbidden_unit(char16_t c) {
    if (c < 0x20) return true;
    switch (c) {
        case u'<': case u'>': case u':': case u'"': case u'/': case u'\\': case u'|':
        case u'?': case u'*':
            return true;
        default:
            return false;
    }
}

char16_t ascii_upper(char16_t c) { return (c >= u'a' && c <= u'z') ? c - u'a' + u'A' : c; }

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows, with any extension.
bool is_device_name(const std::u16string& component) {
    std::u16string stem;
    for (const char16_t c : component) {
        if (c == u'.') break;
        stem.push_back(ascii_upper(c));
    }
    for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL"}) {
        if (stem == device) return true;
    }
    if (stem.size() == 4 && (stem.compare(0, 3, u"COM") == 0 || stem.compare(0, 3, u"LPT") == 0)) {
        return stem[3] >= u'1' && stem[3] <= u'9';
    }
    return false;
}

[[noreturn]] void reject(const std::string& shown_path, const std::string& why) {
    throw ToolError("'" + shown_path + "': " + why);
}

std::u16string checked_component(const std::string& component, const std::string& shown_path) {
    const auto wide = utf8_to_utf16(component);
    if (!wide) reject(printable_bytes(shown_path), "the name is not valid UTF-8");
    if (*wide == u"." || *wide == u"..") reject(shown_path, "a name may not have a '.' or '..' component");
    if (wide->empty()) reject(shown_path, "a name may not have an empty component");
    for (const char16_t c : *wide) {
        if (is_forbidden_unit(c)) {
            reject(shown_path, "the name holds a character that Windows does not allow in file names");
        }
    }
    if (wide->back() == u'.' || wide->back() == u' ') {
        reject(shown_path, "a name component may not end in a dot or a space (Windows drops them)");
    }
    if (is_device_name(*wide)) reject(shown_path, "the name is a reserved Windows device name");
    return *wide;
}

}  // namespace

std::u16string make_entry_name(const std::vector<std::string>& components,
                               const std::string& shown_path) {
    std::u16string name;
    for (const auto& component : components) {
        if (!name.empty()) name.push_back(u'\\');
        name += checked_component(component, shown_path);
    }
    if (name.empty()) reject(shown_path, "the name is empty");
    if (name.size() > payload_format::max_name_units) {
        reject(shown_path, "the name is " + std::to_string(name.size()) +
                               " UTF-16 units long; the launcher takes at most " +
                               std::to_string(payload_format::max_name_units));
    }
    return name;
}

std::u16string case_folded(const std::u16string& name) {
    // Windows compares names through its upper-case table; the C.UTF-8 locale's towupper is
    // the closest host equivalent. Without that locale, ASCII folding still catches the
    // common cases.
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    std::u16string folded;
    folded.reserve(name.size());
    for (const char16_t c : name) {
        if (utf8 != static_cast<locale_t>(0) && (c < 0xD800 || c > 0xDFFF)) {
            const wint_t upper = towupper_l(static_cast<wint_t>(c), utf8);
            folded.push_back(upper <= 0xFFFF ? static_cast<char16_t>(upper) : c);
        } else {
            folded.push_back(ascii_upper(c));
        }
    }
    return folded;
}

}  // namespace kelvor
