// The optional header's CheckSum of a PE image, as Windows computes it (MapFileAndCheckSumW,
// CheckSumMappedFile): the file's 16-bit little-endian words summed with end-around carry,
// the CheckSum field itself counted as zero, plus the file's length. An odd last byte counts
// as a word of its own. The sum is taken piece by piece, in file order, so that a large payload
// is summed as it streams past and never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace kelvor {

class ImageChecksum {
public:
    // The next count bytes of the file.
    void add(const void* data, std::size_t count) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (std::size_t i = 0; i < count; ++i, ++length_) {
            sum_ += (length_ % 2 == 0) ? bytes[i] : std::uint64_t{bytes[i]} << 8;
        }
    }

    // Bytes summed apart that follow these. Only after an even number of bytes: the words
    // of the two sums must line up. (The payload begins at an aligned offset.)
    void add(const ImageChecksum& following) {
        if (length_ % 2 != 0) std::abort();
        sum_ += following.sum_;
        length_ += following.length_;
    }

    std::uint64_t length() const { return length_; }

    // The CheckSum value of a file of length() bytes whose CheckSum field held zero.
    std::uint32_t value() const { return static_cast<std::uint32_t>(fold(sum_) + length_); }

private:
    // Folding the carries back in at the end gives what folding after each word gives: a sum
    // that is zero only when every word was.
    static std::uint64_t fold(std::uint64_t sum) {
        while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
        return sum;
    }

    std::uint64_t sum_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace kelvor
