#include "icon_set.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <zlib.h>

#include "file_contents.h"
#include "little_endian.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kIcoHeaderBytes = 6;  // ICONDIR
constexpr std::size_t kIcoEntryBytes = 16;  // ICONDIRENTRY
constexpr std::uint32_t kBitmapInfoHeaderBytes = 40;
// An .ico holds one image of each size and its directory.
constexpr std::uint64_t kIcoFileLimit =
    std::size(kIconSizes) * (kIconImageLimit + kIcoEntryBytes) + kIcoHeaderBytes;

// An image together with the name the user knows it by: a file of the directory, or an image
// inside the .ico.
struct NamedImage {
    std::string shown;
    IconImage image;
};

std::string quoted(const fs::path& path) { return "'" + utf8_of(path) + "'"; }

// "a, b and c"
std::string listed(const std::vector<std::string>& items, const char* last_separator) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) text += i + 1 == items.size() ? last_separator : ", ";
        text += items[i];
    }
    return text;
}

// Appended to every message about sizes, so that the user learns what a whole set is.
std::string what_a_set_is() {
    return "(an icon set is one PNG image of each size: " + icon_sizes_text() + " pixels square)";
}

std::string square(std::uint32_t size) { return std::to_string(size) + "x" + std::to_string(size); }

std::uint32_t big_endian_32(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 | std::uint32_t{bytes[at + 2]} << 8 |
           bytes[at + 3];
}

std::uint32_t little_endian(const Bytes& bytes, std::size_t at, std::size_t count) {
    return static_cast<std::uint32_t>(read_le(&bytes[at], count));
}

bool has_png_signature(const Bytes& bytes) {
    return bytes.size() >= sizeof kPngSignature && std::equal(kPngSignature, std::end(kPngSignature), bytes.begin());
}

bool has_png_name(const fs::path& path) {
    std::string name = utf8_of(path.filename());
    if (name.size() < 4) return false;
    std::transform(name.end() - 4, name.end(), name.end() - 4,
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name.compare(name.size() - 4, 4, ".png") == 0;
}

// What IHDR says of the image.
struct PngHeader {
    std::uint32_t width;
    std::uint32_t height;
    unsigned bit_depth;
    unsigned colour_type;
    bool interlaced;
};

// Bits per pixel, or 0 for a bit depth that the colour type does not take.
unsigned bits_per_pixel(const PngHeader& header) {
    struct Kind {
        unsigned colour_type, channels;
        std::initializer_list<unsigned> depths;
    };
    static const Kind kinds[] = {{0, 1, {1, 2, 4, 8, 16}}, {2, 3, {8, 16}}, {3, 1, {1, 2, 4, 8}},
                                 {4, 2, {8, 16}},          {6, 4, {8, 16}}};
    for (const auto& kind : kinds) {
        if (kind.colour_type != header.colour_type) continue;
        const bool taken = std::find(kind.depths.begin(), kind.depths.end(), header.bit_depth) != kind.depths.end();
        return taken ? kind.channels * header.bit_depth : 0;
    }
    return 0;
}

// The bytes of image data that the header declares once the data is inflated: each row, of
// each of the seven passes of an interlaced image, is a filter byte and its packed pixels.
std::uint64_t declared_data_bytes(const PngHeader& header) {
    const auto rows = [&](std::uint64_t width, std::uint64_t height) {
        return width == 0 ? 0 : height * (1 + (width * bits_per_pixel(header) + 7) / 8);
    };
    if (!header.interlaced) return rows(header.width, header.height);
    // Adam7: where each pass starts and how far apart its pixels are.
    static const unsigned passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                          {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::uint64_t bytes = 0;
    for (const auto& pass : passes) {
        const auto count = [](std::uint32_t size, unsigned start, unsigned step) -> std::uint64_t {
            return size > start ? (size - start + step - 1) / step : 0;
        };
        bytes += rows(count(header.width, pass[0], pass[2]), count(header.height, pass[1], pass[3]));
    }
    return bytes;
}

// Inflates the IDAT chunks' data, never further than one byte past what the header declares,
// and checks that it is exactly that: a small image whose data would inflate to far more (a
// few kilobytes that grow to hundreds of megabytes) is refused without ever being held.
void check_image_data(const std::vector<std::pair<const unsigned char*, std::size_t>>& idat, const PngHeader& header,
                      const std::string& shown) {
    const std::uint64_t declared = declared_data_bytes(header);
    const std::string declaration = "its header declares " + std::to_string(declared) + " bytes of image data for " +
                                    std::to_string(header.width) + "x" + std::to_string(header.height) + " pixels";
    if (idat.empty()) throw ToolError(shown + " has no image data (no IDAT chunk)");
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) throw ToolError("out of memory for inflating " + shown);
    unsigned char piece[16384];
    std::uint64_t inflated = 0;
    int result = Z_OK;
    for (std::size_t chunk = 0; chunk < idat.size() && result == Z_OK && inflated <= declared; ++chunk) {
        stream.next_in = const_cast<unsigned char*>(idat[chunk].first);
        stream.avail_in = static_cast<uInt>(idat[chunk].second);
        // Until this chunk is used up and nothing more waits to come out.
        do {
            stream.next_out = piece;
            stream.avail_out = sizeof piece;
            result = inflate(&stream, Z_NO_FLUSH);
            inflated += sizeof piece - stream.avail_out;
            if (result == Z_BUF_ERROR) result = Z_OK;  // nothing to do until more data comes
        } while (result == Z_OK && inflated <= declared && (stream.avail_in > 0 || stream.avail_out == 0));
    }
    inflateEnd(&stream);
    if (inflated > declared) throw ToolError(shown + " has more image data than " + declaration);
    if (result != Z_STREAM_END && result != Z_OK) throw ToolError(shown + " has damaged image data (its zlib stream)");
    if (result != Z_STREAM_END || inflated != declared) {
        throw ToolError(shown + " has " + std::to_string(inflated) + " bytes of image data, but " + declaration);
    }
}

// The size of a square PNG image of one of the icon sizes. The structure is checked (IHDR,
// where the dimensions are, must come first, and the chunks must run whole up to IEND, which
// catches a file cut short), and the image data must inflate to exactly what IHDR declares;
// the CRCs and the pixels themselves are not looked at.
int png_icon_size(const Bytes& png, const std::string& shown) {
    if (!has_png_signature(png)) throw ToolError(shown + " is not a PNG image");
    const ToolError truncated(shown + " is truncated (its chunks end before IEND)");
    if (png.size() < 8 + 12 + 13) throw truncated;
    if (big_endian_32(png, 8) != 13 || std::memcmp(&png[12], "IHDR", 4) != 0) {
        throw ToolError(shown + " does not begin with an IHDR chunk, so it is not a valid PNG image");
    }
    const PngHeader header{big_endian_32(png, 16), big_endian_32(png, 20), png[24], png[25], png[28] == 1};
    if (header.width != header.height) {
        throw ToolError(shown + " is not square (" + std::to_string(header.width) + "x" +
                        std::to_string(header.height) + " pixels)");
    }
    if (std::none_of(std::begin(kIconSizes), std::end(kIconSizes),
                     [&](int size) { return static_cast<std::uint32_t>(size) == header.width; })) {
        throw ToolError(shown + " is " + square(header.width) + " pixels, not an icon size " + what_a_set_is());
    }
    if (bits_per_pixel(header) == 0 || png[26] != 0 || png[27] != 0 || png[28] > 1) {
        throw ToolError(shown + " has an IHDR that no PNG decoder takes (bit depth " + std::to_string(header.bit_depth) +
                        ", colour type " + std::to_string(header.colour_type) + ")");
    }
    std::vector<std::pair<const unsigned char*, std::size_t>> idat;
    for (std::size_t at = 8;;) {
        // Length, type and CRC take 12 bytes around the chunk's data.
        if (png.size() - at < 12 || png.size() - at - 12 < big_endian_32(png, at)) throw truncated;
        const std::uint32_t length = big_endian_32(png, at);
        if (std::memcmp(&png[at + 4], "IDAT", 4) == 0) idat.emplace_back(&png[at + 8], length);
        const bool last = std::memcmp(&png[at + 4], "IEND", 4) == 0;
        at += 12 + length;
        if (last) break;
    }
    check_image_data(idat, header, shown);
    return static_cast<int>(header.width);
}

// The PNG files of a directory, sorted: directory order differs between file systems, and
// sorted, every run names the same file first.
std::vector<fs::path> png_files(const fs::path& directory) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::directory_iterator item(directory, error), end; !error && item != end; item.increment(error)) {
        std::error_code not_regular;
        if (has_png_name(item->path()) && item->is_regular_file(not_regular)) files.push_back(item->path());
    }
    if (error) throw ToolError("cannot read the directory " + quoted(directory) + ": " + error.message());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<NamedImage> directory_images(const fs::path& directory) {
    std::vector<NamedImage> images;
    for (const auto& file : png_files(directory)) {
        Bytes png = read_whole_file(file, kIconImageLimit, "an icon image");
        const int size = png_icon_size(png, quoted(file));
        images.push_back({quoted(file), {size, std::move(png)}});
    }
    return images;
}

// The width or height byte of an ICONDIRENTRY: 0 stands for 256.
int entry_dimension(unsigned char byte) { return byte == 0 ? 256 : byte; }

NamedImage ico_image(const Bytes& ico, std::size_t index, const std::string& shown_ico) {
    const std::size_t entry = kIcoHeaderBytes + kIcoEntryBytes * index;
    const std::string shown = "image " + std::to_string(index + 1) + " of " + shown_ico;
    const std::uint32_t bytes = little_endian(ico, entry + 8, 4);
    const std::uint32_t offset = little_endian(ico, entry + 12, 4);
    if (offset > ico.size() || bytes > ico.size() - offset) {
        throw ToolError(shown_ico + " is truncated (" + shown + " runs past the end of the file)");
    }
    if (bytes > kIconImageLimit) {
        throw ToolError(shown + " is " + std::to_string(bytes) + " bytes, more than an icon image can be (" +
                        std::to_string(kIconImageLimit) + " bytes)");
    }
    Bytes png(ico.begin() + offset, ico.begin() + offset + bytes);
    // Images in an .ico are PNG files or bitmaps without their file header, which begin with a
    // BITMAPINFOHEADER and so with its size.
    if (!has_png_signature(png) && png.size() >= 4 && little_endian(png, 0, 4) == kBitmapInfoHeaderBytes) {
        throw ToolError(shown + " is a BMP image; the icons must be PNG images (save the .ico with "
                                "PNG-compressed images, or give a directory of PNG files)");
    }
    const int size = png_icon_size(png, shown);
    const int listed_width = entry_dimension(ico[entry]);
    const int listed_height = entry_dimension(ico[entry + 1]);
    if (listed_width != size || listed_height != size) {
        // Windows picks an image by the directory's numbers, so they must be right.
        throw ToolError(shown + " is listed as " + std::to_string(listed_width) + "x" + std::to_string(listed_height) +
                        " pixels in the .ico directory, but its PNG is " + square(size));
    }
    return {shown, {size, std::move(png)}};
}

std::vector<NamedImage> ico_images(const fs::path& path) {
    const Bytes ico = read_whole_file(path, kIcoFileLimit, "an icon file");
    const std::string shown = quoted(path);
    if (has_png_signature(ico)) {
        throw ToolError(shown + " is a PNG image, not an .ico file; give a directory of PNG files, one of each "
                                "size, or an .ico file " + what_a_set_is());
    }
    if (ico.size() < kIcoHeaderBytes || little_endian(ico, 0, 2) != 0 || little_endian(ico, 2, 2) != 1) {
        throw ToolError(shown + " is not an .ico file");
    }
    const std::size_t count = little_endian(ico, 4, 2);
    if (ico.size() < kIcoHeaderBytes + kIcoEntryBytes * count) {
        throw ToolError(shown + " is truncated (it ends inside its directory of " + std::to_string(count) + " images)");
    }
    std::vector<NamedImage> images;
    for (std::size_t index = 0; index < count; ++index) images.push_back(ico_image(ico, index, shown));
    return images;
}

std::vector<IconImage> complete_set(std::vector<NamedImage> named, const std::string& shown_source) {
    std::stable_sort(named.begin(), named.end(),
                     [](const NamedImage& a, const NamedImage& b) { return a.image.size < b.image.size; });
    for (std::size_t i = 1; i < named.size(); ++i) {
        if (named[i].image.size == named[i - 1].image.size) {
            throw ToolError(named[i - 1].shown + " and " + named[i].shown + " are both " +
                            square(named[i].image.size) + " pixels " + what_a_set_is());
        }
    }
    // Every image has one of the sizes and none is there twice, so any gap is a missing size.
    std::vector<std::string> missing;
    std::size_t at = 0;
    for (const int size : kIconSizes) {
        if (at < named.size() && named[at].image.size == size) {
            ++at;
        } else {
            missing.push_back(square(size));
        }
    }
    if (!missing.empty()) {
        throw ToolError(shown_source + " has no image of " + listed(missing, " or ") + " pixels " + what_a_set_is());
    }
    std::vector<IconImage> images;
    for (auto& item : named) images.push_back(std::move(item.image));
    return images;
}

}  // namespace

std::string icon_sizes_text() {
    std::vector<std::string> sizes;
    for (const int size : kIconSizes) sizes.push_back(std::to_string(size));
    return listed(sizes, " and ");
}

std::vector<IconImage> read_icon_set(const fs::path& directory_or_ico) {
    std::error_code not_a_directory;
    if (fs::is_directory(directory_or_ico, not_a_directory)) {
        return complete_set(directory_images(directory_or_ico), "the directory " + quoted(directory_or_ico));
    }
    return complete_set(ico_images(directory_or_ico), quoted(directory_or_ico));
}

std::vector<fs::path> icon_files(const fs::path& directory_or_ico) {
    std::error_code not_a_directory;
    if (fs::is_directory(directory_or_ico, not_a_directory)) return png_files(directory_or_ico);
    return {directory_or_ico};
}

namespace {

// ICONDIR (the .ico file's header), which GRPICONDIR repeats, and the fields that ICONDIRENTRY
// and GRPICONDIRENTRY share: a PNG image of 32 bits per pixel, its size 0 for 256.
void append_icon_header(Bytes& out, std::size_t count) {
    append_le(out, 0, 2);  // reserved
    append_le(out, 1, 2);  // an icon, not a cursor
    append_le(out, count, 2);
}

void append_icon_entry(Bytes& out, const IconImage& image) {
    const auto dimension = static_cast<unsigned char>(image.size >= 256 ? 0 : image.size);
    out.push_back(dimension);
    out.push_back(dimension);
    out.push_back(0);       // no palette
    out.push_back(0);       // reserved
    append_le(out, 1, 2);   // colour planes
    append_le(out, 32, 2);  // bits per pixel
    append_le(out, image.png.size(), 4);
}

}  // namespace

std::vector<unsigned char> ico_file(const std::vector<IconImage>& images) {
    Bytes ico;
    append_icon_header(ico, images.size());
    std::uint64_t offset = kIcoHeaderBytes + kIcoEntryBytes * images.size();
    for (const auto& image : images) {
        append_icon_entry(ico, image);
        append_le(ico, offset, 4);
        offset += image.png.size();
    }
    if (offset > UINT32_MAX) throw ToolError("the icons are too large for an .ico file (4 GiB at most)");
    for (const auto& image : images) ico.insert(ico.end(), image.png.begin(), image.png.end());
    return ico;
}

std::vector<unsigned char> icon_group(const std::vector<IconImage>& images, std::uint16_t first_id) {
    Bytes group;
    append_icon_header(group, images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        append_icon_entry(group, images[i]);
        append_le(group, first_id + i, 2);
    }
    return group;
}

}  // namespace kelvor
