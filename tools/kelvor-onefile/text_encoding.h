// Conversions between the host's UTF-8 file names and the UTF-16 names of the payload.
#pragma once

#include <optional>
#include <string>

namespace kelvor {

// Strict UTF-8 to UTF-16: no overlong forms, no surrogate code points, nothing above
// U+10FFFF. Gives nothing for text that is not valid UTF-8.
std::optional<std::u16string> utf8_to_utf16(const std::string& text);

// UTF-16 to UTF-8 for display; an unpaired surrogate is shown as U+FFFD.
std::string utf16_to_utf8(const std::u16string& text);

// The bytes of a host name in a printable form: invalid bytes as \xNN.
std::string printable_bytes(const std::string& bytes);

}  // namespace kelvor
