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

bool is_port_digit(char16_t c) {
    return (c >= u'1' && c <= u'9') || c == u'\u00B9' || c == u'\u00B2' || c == u'\u00B3';  // and ¹ ² ³
}

// Windows reads a name as a device when the part before its first dot, less trailing spaces,
// is CON, PRN, AUX, NUL, CONIN$, CONOUT$, or COM or LPT with a port digit (1 to 9, or the
// superscripts ¹ ² ³), in any case: "nul .log" and "COM¹.txt" are devices too.
bool is_device_name(const std::u16string& component) {
    std::u16string stem = component.substr(0, component.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') stem.pop_back();
    for (char16_t& c : stem) c = ascii_upper(c);
    for (const char16_t* device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
        if (stem == device) return true;
    }
    return stem.size() == 4 && (stem.compare(0, 3, u"COM") == 0 || stem.compare(0, 3, u"LPT") == 0) &&
           is_port_digit(stem[3]);
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
