// Little-endian integers, as the payload block, PE images and .ico files store them: the one
// reader and the writers of the tool. The reader and put_le take no bounds: their callers have
// checked that the bytes are there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvor {

inline std::uint64_t read_le(const unsigned char* bytes, std::size_t count) {
    std::uint64_t value = 0;
    for (std::size_t i = count; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

inline void append_le(std::vector<unsigned char>& out, std::uint64_t value, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// Overwrites count bytes at offset at.
inline void put_le(std::vector<unsigned char>& out, std::size_t at, std::uint64_t value, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace kelvor
