// Icon sets: the default icons are whole, valid, compressed PNGs of the drawing; an .ico file
// written from a set reads back as the same set, laid out as Windows reads it; each kind of
// bad icon has its message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <stdexcept>

#include "icon_set.h"
#include "tool_error.h"
#include "tool_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using testing::ScratchDirectory;
using testing::write_file;

std::uint32_t big_endian(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes.at(at)} << 24 | std::uint32_t{bytes.at(at + 1)} << 16 |
           std::uint32_t{bytes.at(at + 2)} << 8 | bytes.at(at + 3);
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    if (from + count > bytes.size()) throw std::out_of_range("slice past the end");
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

std::uint32_t little_endian_32(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes.at(at + 3)} << 24 | std::uint32_t{bytes.at(at + 2)} << 16 |
           std::uint32_t{bytes.at(at + 1)} << 8 | bytes.at(at);
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::uint32_t crc32(const Bytes& bytes) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
    }
    return ~crc;
}

// The chunks of a PNG as "type" -> data, each chunk's CRC-32 checked on the way.
std::vector<std::pair<std::string, Bytes>> checked_chunks(const Bytes& png) {
    std::vector<std::pair<std::string, Bytes>> chunks;
    for (std::size_t at = 8; at < png.size();) {
        const std::uint32_t length = big_endian(png, at);
        EXPECT_EQ(crc32(slice(png, at + 4, 4 + length)), big_endian(png, at + 8 + length));
        chunks.emplace_back(text(slice(png, at + 4, 4)), slice(png, at + 8, length));
        at += 12 + length;
    }
    return chunks;
}

// An inflater (RFC 1950 and 1951) kept apart from the generator's encoder, so that the two
// cannot share a mistake: the codes are decoded bit by bit, the length and distance tables
// are worked out from their rule rather than copied, and anything malformed throws.
class Inflater {
public:
    explicit Inflater(const Bytes& stream) : stream_(stream) {}

    // The data of the whole zlib stream, its Adler-32 checked.
    Bytes data() {
        const unsigned method = bits(8), flags = bits(8);
        if ((method & 15) != 8 || (method << 8 | flags) % 31 != 0 || flags & 32) fail("not a plain zlib stream");
        for (bool last = false; !last;) {
            last = bits(1);
            switch (bits(2)) {
                case 0: stored_block(); break;
                case 1: fixed_block(); break;
                case 2: dynamic_block(); break;
                default: fail("reserved block type");
            }
        }
        bit_count_ = 0;  // the checksum starts on a byte boundary
        std::uint32_t low = 1, high = 0;
        for (const unsigned char byte : out_) {
            low = (low + byte) % 65521;
            high = (high + low) % 65521;
        }
        if ((high << 16 | low) != big_endian(stream_, at_)) fail("wrong Adler-32");
        if (at_ + 4 != stream_.size()) fail("data after the stream");
        return out_;
    }

private:
    // A canonical code as the number of codes of each length and the symbols in code order.
    struct Code {
        int count_of_length[16] = {};
        std::vector<int> symbols;
    };

    [[noreturn]] static void fail(const std::string& what) { throw std::runtime_error("inflate: " + what); }

    unsigned bits(int count) {
        unsigned value = 0;
        for (int i = 0; i < count; ++i) {
            if (bit_count_ == 0) {
                if (at_ >= stream_.size()) fail("stream ends early");
                bit_buffer_ = stream_[at_++];
                bit_count_ = 8;
            }
            value |= (bit_buffer_ & 1u) << i;
            bit_buffer_ >>= 1;
            --bit_count_;
        }
        return value;
    }

    static Code code_of(const std::vector<int>& lengths) {
        Code code;
        for (const int length : lengths) ++code.count_of_length[length];
        for (int length = 1; length < 16; ++length) {
            for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
                if (lengths[symbol] == length) code.symbols.push_back(static_cast<int>(symbol));
            }
        }
        return code;
    }

    // Codes of one length are consecutive numbers, so a code read so far is one of this
    // length exactly when it lies within `count` of the first code of the length.
    int symbol(const Code& code) {
        int value = 0, first = 0, index = 0;
        for (int length = 1; length < 16; ++length) {
            value |= static_cast<int>(bits(1));
            const int count = code.count_of_length[length];
            if (value - first < count) return code.symbols.at(static_cast<std::size_t>(index + value - first));
            index += count;
            first = (first + count) << 1;
            value <<= 1;
        }
        fail("no such code");
    }

    void stored_block() {
        bit_count_ = 0;
        const unsigned length = bits(16), complement = bits(16);
        if ((length ^ complement) != 0xFFFF) fail("stored length and its complement disagree");
        for (unsigned i = 0; i < length; ++i) out_.push_back(static_cast<unsigned char>(bits(8)));
    }

    void fixed_block() {
        std::vector<int> literals(288, 8);
        std::fill(literals.begin() + 144, literals.begin() + 256, 9);
        std::fill(literals.begin() + 256, literals.begin() + 280, 7);
        compressed_block(code_of(literals), code_of(std::vector<int>(30, 5)));
    }

    void dynamic_block() {
        const unsigned literal_count = bits(5) + 257, distance_count = bits(5) + 1, length_count = bits(4) + 4;
        static const int kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        std::vector<int> length_lengths(19, 0);
        for (unsigned i = 0; i < length_count; ++i) length_lengths[kOrder[i]] = static_cast<int>(bits(3));
        const Code length_code = code_of(length_lengths);
        std::vector<int> lengths;
        while (lengths.size() < literal_count + distance_count) {
            const int item = symbol(length_code);
            if (item < 16) {
                lengths.push_back(item);
            } else if (item == 16) {
                if (lengths.empty()) fail("repeat with no length before it");
                const int previous = lengths.back();
                lengths.insert(lengths.end(), 3 + bits(2), previous);
            } else {
                lengths.insert(lengths.end(), item == 17 ? 3 + bits(3) : 11 + bits(7), 0);
            }
        }
        if (lengths.size() != literal_count + distance_count) fail("code lengths run past their count");
        compressed_block(code_of({lengths.begin(), lengths.begin() + literal_count}),
                         code_of({lengths.begin() + literal_count, lengths.end()}));
    }

    // Lengths 3 to 258 and distances 1 to 32,768, each code's extra bits growing by one every
    // four codes after the first eight (lengths) or four (distances); length code 285 is 258.
    static std::pair<std::size_t, int> length_base(int code) {
        if (code == 28) return {258, 0};
        std::size_t base = 3;
        for (int i = 0; i < code; ++i) base += std::size_t{1} << (i < 8 ? 0 : (i - 4) / 4);
        return {base, code < 8 ? 0 : (code - 4) / 4};
    }

    static std::pair<std::size_t, int> distance_base(int code) {
        std::size_t base = 1;
        for (int i = 0; i < code; ++i) base += std::size_t{1} << (i < 4 ? 0 : i / 2 - 1);
        return {base, code < 4 ? 0 : code / 2 - 1};
    }

    void compressed_block(const Code& literals, const Code& distances) {
        for (;;) {
            const int item = symbol(literals);
            if (item < 256) {
                out_.push_back(static_cast<unsigned char>(item));
                continue;
            }
            if (item == 256) return;
            if (item > 285) fail("no such length code");
            const auto [length, length_bits] = length_base(item - 257);
            const std::size_t count = length + bits(length_bits);  // before the distance code
            const int distance_code = symbol(distances);
            if (distance_code > 29) fail("no such distance code");
            const auto [distance, distance_bits] = distance_base(distance_code);
            const std::size_t back = distance + bits(distance_bits);
            if (back > out_.size()) fail("copy from before the start");
            for (std::size_t i = 0; i < count; ++i) out_.push_back(out_[out_.size() - back]);
        }
    }

    const Bytes& stream_;
    std::size_t at_ = 0;
    unsigned bit_buffer_ = 0;
    int bit_count_ = 0;
    Bytes out_;
};

// The RGBA pixels of `size` rows whose PNG filters (filter type byte, then the row) are undone.
Bytes unfiltered_pixels(const Bytes& rows, int size) {
    const std::size_t row_bytes = 4 * static_cast<std::size_t>(size);
    if (rows.size() != (1 + row_bytes) * static_cast<std::size_t>(size)) throw std::runtime_error("wrong image size");
    Bytes pixels;
    for (std::size_t row = 0; row < static_cast<std::size_t>(size); ++row) {
        const unsigned char filter = rows[row * (1 + row_bytes)];
        const unsigned char* line = &rows[row * (1 + row_bytes) + 1];
        for (std::size_t i = 0; i < row_bytes; ++i) {
            const int left = i >= 4 ? pixels[pixels.size() - 4] : 0;
            const int above = row > 0 ? pixels[pixels.size() - row_bytes] : 0;
            const int upper_left = row > 0 && i >= 4 ? pixels[pixels.size() - row_bytes - 4] : 0;
            int prediction;
            switch (filter) {
                case 0: prediction = 0; break;
                case 1: prediction = left; break;
                case 2: prediction = above; break;
                case 3: prediction = (left + above) / 2; break;
                case 4: {
                    const int estimate = left + above - upper_left;
                    const int to_left = std::abs(estimate - left), to_above = std::abs(estimate - above),
                              to_upper_left = std::abs(estimate - upper_left);
                    prediction = to_left <= to_above && to_left <= to_upper_left ? left
                                 : to_above <= to_upper_left                     ? above
                                                                                 : upper_left;
                    break;
                }
                default: throw std::runtime_error("no such filter type " + std::to_string(filter));
            }
            pixels.push_back(static_cast<unsigned char>(line[i] + prediction));
        }
    }
    return pixels;
}

// The CRC-32 of each default icon's RGBA pixels, 16 to 256 pixels, as the drawing makes them.
// They pin every pixel, so that a fault in the row filters or the compression that still
// decodes cannot change the icons unnoticed; a new drawing needs new values here.
constexpr std::uint32_t kPixelDigests[] = {0x3174B0FB, 0xE2D9E032, 0x6BB97DE4, 0xC0292293,
                                           0x45AF5D07, 0x14F442D9, 0xBC60C21F};

TEST(DefaultIcons, AreAWholeSetOfValidRgbaPngs) {
    const auto icons = read_icon_set(KELVOR_DEFAULT_ICONS_DIRECTORY);
    ASSERT_EQ(icons.size(), std::size(kIconSizes));
    for (std::size_t i = 0; i < icons.size(); ++i) {
        const int size = kIconSizes[i];
        SCOPED_TRACE(size);
        EXPECT_EQ(icons[i].size, size);
        const auto chunks = checked_chunks(icons[i].png);
        ASSERT_EQ(chunks.size(), 3u);
        EXPECT_EQ(chunks[0].first + chunks[1].first + chunks[2].first, "IHDRIDATIEND");
        EXPECT_EQ(chunks[0].second.at(8), 8);  // bits per channel
        EXPECT_EQ(chunks[0].second.at(9), 6);  // RGBA
        const Bytes pixels = unfiltered_pixels(Inflater(chunks[1].second).data(), size);
        EXPECT_EQ(crc32(pixels), kPixelDigests[i]) << "the pixels are not the drawing's";
        const auto pixel = [&](double x, double y) {
            const auto column = static_cast<std::size_t>(x * size), row = static_cast<std::size_t>(y * size);
            return slice(pixels, (row * static_cast<std::size_t>(size) + column) * 4, 4);
        };
        EXPECT_EQ(pixel(0, 0)[3], 0) << "the corners are transparent";
        EXPECT_EQ(pixel(0.53, 0.5), Bytes(4, 255)) << "the stem of the 1 is white";
        const Bytes left = pixel(0.2, 0.5), lower_right = pixel(0.8, 0.85);
        EXPECT_EQ(left[3], 255);
        EXPECT_EQ(lower_right[3], 255);
        EXPECT_GT(left[2], lower_right[2]) << "blue towards the top left";
        EXPECT_GT(lower_right[1], left[1]) << "teal towards the bottom right";
    }
}

// The icons are in every launcher executable: stored (uncompressed) they take 360 KB,
// compressed under 14 KB.
TEST(DefaultIcons, AreCompressed) {
    std::size_t total = 0;
    for (const auto& icon : read_icon_set(KELVOR_DEFAULT_ICONS_DIRECTORY)) total += icon.png.size();
    EXPECT_LT(total, 40'000u);
}

TEST(IcoFile, ReadsBackAsTheSameSetInTheLayoutWindowsReads) {
    const auto icons = read_icon_set(KELVOR_DEFAULT_ICONS_DIRECTORY);
    const Bytes ico = ico_file(icons);
    ScratchDirectory scratch;
    write_file(scratch / "app.ico", text(ico));
    const auto back = read_icon_set(scratch / "app.ico");
    ASSERT_EQ(back.size(), icons.size());
    std::size_t offset = 6 + 16 * icons.size();
    for (std::size_t i = 0; i < icons.size(); ++i) {
        EXPECT_EQ(back[i].size, icons[i].size);
        EXPECT_EQ(back[i].png, icons[i].png);
        const Bytes entry = slice(ico, 6 + 16 * i, 16);
        EXPECT_EQ(entry[0], icons[i].size == 256 ? 0 : icons[i].size);  // 0 stands for 256
        EXPECT_EQ(entry[1], entry[0]);
        EXPECT_EQ(entry[4] | entry[5] << 8, 1);   // planes
        EXPECT_EQ(entry[6] | entry[7] << 8, 32);  // bits per pixel
        EXPECT_EQ(little_endian_32(entry, 12), offset);
        offset += icons[i].png.size();
    }
    EXPECT_EQ(offset, ico.size()) << "the images lie back to back after the directory";
}

TEST(IconDirectory, TakesAnyPngNamesInAnyCaseAndIgnoresOtherFiles) {
    ScratchDirectory scratch;
    const char* names[] = {"a.png", "B.PNG", "c.Png", "small icon.png", "e.pNg", "f.png", "g.png"};
    const auto icons = read_icon_set(KELVOR_DEFAULT_ICONS_DIRECTORY);
    for (std::size_t i = 0; i < icons.size(); ++i) write_file(scratch / names[6 - i], text(icons[i].png));
    write_file(scratch / "notes.txt", "not an icon");
    write_file(scratch / "png", "nor this");
    fs::create_directory(scratch / "folder.png");
    const auto read = read_icon_set(scratch.path());
    ASSERT_EQ(read.size(), icons.size());
    for (std::size_t i = 0; i < read.size(); ++i) EXPECT_EQ(read[i].png, icons[i].png);
}

// Small stand-in PNGs: the reader looks at the structure, never at the pixels or the CRCs.
Bytes chunk(const std::string& type, const Bytes& data) {
    Bytes bytes(12 + data.size(), 0);
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(data.size() >> (24 - 8 * i));
    std::copy(type.begin(), type.end(), bytes.begin() + 4);
    std::copy(data.begin(), data.end(), bytes.begin() + 8);
    return bytes;
}

Bytes ihdr(unsigned width, unsigned height) {
    return chunk("IHDR", {0, 0, static_cast<unsigned char>(width >> 8), static_cast<unsigned char>(width), 0, 0,
                          static_cast<unsigned char>(height >> 8), static_cast<unsigned char>(height), 8, 6, 0, 0, 0});
}

Bytes png(std::initializer_list<Bytes> chunks) {
    Bytes bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const auto& part : chunks) bytes.insert(bytes.end(), part.begin(), part.end());
    return bytes;
}

Bytes png_of(unsigned width, unsigned height) {
    return png({ihdr(width, height), chunk("IDAT", Bytes(40, 7)), chunk("IEND", {})});
}

std::vector<IconImage> stand_in_set() {
    std::vector<IconImage> set;
    for (const int size : kIconSizes) set.push_back({size, png_of(size, size)});
    return set;
}

fs::path directory_of(const fs::path& scratch, const std::vector<IconImage>& set) {
    for (const auto& image : set) {
        write_file(scratch / "icons" / ("icon-" + std::to_string(image.size) + ".png"), text(image.png));
    }
    fs::create_directories(scratch / "icons");
    return scratch / "icons";
}

fs::path ico_of(const fs::path& scratch, const Bytes& ico) {
    write_file(scratch / "app.ico", text(ico));
    return scratch / "app.ico";
}

// A stand-in set with one image replaced.
std::vector<IconImage> set_with(int size, const Bytes& replacement) {
    auto set = stand_in_set();
    for (auto& image : set) {
        if (image.size == size) image.png = replacement;
    }
    return set;
}

struct BadIcons {
    const char* label;
    std::function<fs::path(const fs::path& scratch)> make;
    std::vector<std::string> message;  // each part must be in the message: the file and the problem
};

class BadIconsTest : public ::testing::TestWithParam<BadIcons> {};

TEST_P(BadIconsTest, AreRefusedWithAClearMessage) {
    ScratchDirectory scratch;
    const fs::path given = GetParam().make(scratch.path());
    try {
        read_icon_set(given);
        FAIL() << "accepted";
    } catch (const ToolError& error) {
        for (const auto& part : GetParam().message) {
            EXPECT_NE(std::string(error.what()).find(part), std::string::npos) << error.what();
        }
    }
}

const Bytes kBitmapStart{40, 0, 0, 0, 32, 0, 0, 0, 64, 0, 0, 0};  // the BITMAPINFOHEADER of a 32x32 icon

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadIconsTest,
    ::testing::Values(
        BadIcons{"missing size",
                 [](const fs::path& s) {
                     auto set = stand_in_set();
                     set.erase(set.begin() + 3);
                     return directory_of(s, set);
                 },
                 {"the directory '", "icons' has no image of 48x48 pixels (an icon set is one PNG image of each "
                                     "size: 16, 24, 32, 48, 64, 128 and 256 pixels square)"}},
        BadIcons{"empty directory", [](const fs::path& s) { return directory_of(s, {}); },
                 {"has no image of 16x16, 24x24, 32x32, 48x48, 64x64, 128x128 or 256x256 pixels"}},
        BadIcons{"duplicate size",
                 [](const fs::path& s) {
                     write_file(s / "icons" / "again.png", text(png_of(32, 32)));
                     return directory_of(s, stand_in_set());
                 },
                 {"again.png' and '", "icon-32.png' are both 32x32 pixels"}},
        BadIcons{"not square", [](const fs::path& s) { return directory_of(s, set_with(24, png_of(24, 25))); },
                 {"icon-24.png' is not square (24x25 pixels)"}},
        BadIcons{"not an icon size", [](const fs::path& s) { return directory_of(s, set_with(24, png_of(20, 20))); },
                 {"icon-24.png' is 20x20 pixels, not an icon size"}},
        BadIcons{"not a PNG",
                 [](const fs::path& s) { return directory_of(s, set_with(16, {'G', 'I', 'F', '8', '9', 'a', 16, 0})); },
                 {"icon-16.png' is not a PNG image"}},
        BadIcons{"IHDR not first",
                 [](const fs::path& s) {
                     return directory_of(s, set_with(64, png({chunk("tEXt", {'x'}), ihdr(64, 64), chunk("IEND", {})})));
                 },
                 {"icon-64.png' does not begin with an IHDR chunk"}},
        BadIcons{"truncated PNG",
                 [](const fs::path& s) { return directory_of(s, set_with(256, slice(png_of(256, 256), 0, 60))); },
                 {"icon-256.png' is truncated (its chunks end before IEND)"}},
        BadIcons{"BMP inside the .ico",
                 [](const fs::path& s) { return ico_of(s, ico_file(set_with(32, kBitmapStart))); },
                 {"image 3 of '", "app.ico' is a BMP image; the icons must be PNG images"}},
        BadIcons{"truncated .ico",
                 [](const fs::path& s) {
                     const Bytes ico = ico_file(stand_in_set());
                     return ico_of(s, slice(ico, 0, ico.size() - 10));
                 },
                 {"app.ico' is truncated (image 7 of '"}},
        BadIcons{".ico cut inside its directory",
                 [](const fs::path& s) { return ico_of(s, slice(ico_file(stand_in_set()), 0, 40)); },
                 {"app.ico' is truncated (it ends inside its directory of 7 images)"}},
        BadIcons{".ico missing a size",
                 [](const fs::path& s) {
                     auto set = stand_in_set();
                     set.pop_back();
                     return ico_of(s, ico_file(set));
                 },
                 {"app.ico' has no image of 256x256 pixels"}},
        BadIcons{".ico directory disagrees with its PNG",
                 [](const fs::path& s) {
                     Bytes ico = ico_file(stand_in_set());
                     ico[6 + 16 * 1] = 25;  // the width byte of the 24x24 image
                     return ico_of(s, ico);
                 },
                 {"image 2 of '", "app.ico' is listed as 25x24 pixels in the .ico directory, but its PNG is 24x24"}},
        BadIcons{"a PNG instead of an .ico", [](const fs::path& s) { return ico_of(s, png_of(256, 256)); },
                 {"app.ico' is a PNG image, not an .ico file"}},
        BadIcons{"not an .ico", [](const fs::path& s) { return ico_of(s, {'M', 'Z', 0x90, 0, 3, 0, 0, 0}); },
                 {"app.ico' is not an .ico file"}},
        BadIcons{"nothing there", [](const fs::path& s) { return s / "no-such-icons"; },
                 {"cannot read '", "no-such-icons': No such file or directory"}}),
    [](const ::testing::TestParamInfo<BadIcons>& param) { return testing::case_name(param.param.label); });

}  // namespace
}  // namespace kelvor
