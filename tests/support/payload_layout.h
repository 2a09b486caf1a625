// The payload block laid out by hand, for what the packer never writes: an entry's bytes, the
// end marker, and the block around its frames. The one writer of the layout for the host
// tests, the Windows tests and the fixture that lays out the probe launchers' payloads; each
// makes its frames its own way (raw blocks on Windows, the zstd library on the host).
#pragma once

#include <cstdint>
#include <string>

namespace kelvor::testing {

inline void put_le(std::string& out, std::uint64_t value, int count) {
    for (int i = 0; i < count; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// The UTF-16LE name, its terminator, the size and the data.
template <class Unit>
std::string entry_of_units(const std::basic_string<Unit>& name, const std::string& data) {
    std::string bytes;
    for (const Unit unit : name) put_le(bytes, static_cast<std::uint16_t>(unit), 2);
    put_le(bytes, 0, 2);
    put_le(bytes, data.size(), 8);
    return bytes + data;
}
inline std::string entry_bytes(const std::u16string& name, const std::string& data) { return entry_of_units(name, data); }
#ifdef _WIN32
// wchar_t is a UTF-16 unit on Windows.
inline std::string entry_bytes(const std::wstring& name, const std::string& data) { return entry_of_units(name, data); }
#endif

inline std::string end_marker_bytes() { return std::string(2, '\0'); }

// "KAY", the frames, the four-byte zero tail and the tail offset.
inline std::string payload_block(const std::string& frames) {
    std::string block = "KAY" + frames;
    put_le(block, 0, 4);
    put_le(block, 3 + frames.size() + 4, 8);
    return block;
}

}  // namespace kelvor::testing
