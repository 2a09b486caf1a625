#include "entry_names.h"

#include <clocale>
#include <cwctype>
#include <locale.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include "payload/entry_name_rules.h"
#include "payload/payload_format.h"
#include "text_encoding.h"
#include "tool_error.h"

namespace kelvor {

namespace {

[[noreturn]] void reject(const std::string& shown_path, const std::string& why) {
    throw ToolError("'" + shown_path + "': " + why);
}

const char* fault_text(entry_name_rules::Fault fault) {
    using entry_name_rules::Fault;
    switch (fault) {
        case Fault::empty_component: return "a name may not have an empty component";
        case Fault::dot_component: return "a name may not have a '.' or '..' component";
        case Fault::forbidden_character: return "the name holds a character that Windows does not allow in file names";
        case Fault::trailing_dot_or_space: return "a name component may not end in a dot or a space (Windows drops them)";
        case Fault::device_name: return "the name is a reserved Windows device name";
        case Fault::none: break;
    }
    return "";
}

std::u16string checked_component(const std::string& component, const std::string& shown_path) {
    const auto wide = utf8_to_utf16(component);
    if (!wide) reject(printable_bytes(shown_path), "the name is not valid UTF-8");
    const auto fault = entry_name_rules::check_component(wide->data(), wide->size());
    if (fault != entry_name_rules::Fault::none) reject(shown_path, fault_text(fault));
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

std::string entry_name_fault(const std::u16string& name) {
    const auto fault = entry_name_rules::check_name(name.data(), name.size());
    if (fault != entry_name_rules::Fault::none) return fault_text(fault);
    if (utf8_to_utf16(utf16_to_utf8(name)) != name) return "the name is not valid UTF-16 (a lone surrogate)";
    return "";
}

void check_entry_name(const std::u16string& name, const std::string& shown) {
    const std::string fault = entry_name_fault(name);
    if (!fault.empty()) reject(shown, fault);
}

#ifdef _WIN32
std::u16string case_folded(const std::u16string& name) {
    // Windows compares names through its upper-case table, which the invariant locale's
    // upper-casing follows, one unit for one unit. Lone surrogates stay as they are.
    std::wstring folded(name.begin(), name.end());
    if (!folded.empty()) {
        LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, folded.data(), static_cast<int>(folded.size()),
                      folded.data(), static_cast<int>(folded.size()), nullptr, nullptr, 0);
    }
    return std::u16string(folded.begin(), folded.end());
}
#else
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
#endif

}  // namespace kelvor
