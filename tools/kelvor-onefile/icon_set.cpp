#include "icon_set.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "file_contents.h"
#include "little_endian.h"
#include "tool_error.h"

namespace kelvor {

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kIcoHeaderBytes = 6;  // ICONDIR
constexpr std::size_t kIcoEntryBytes = 16;  // ICONDIRENTRY
constexpr std::uint32_t kBitmapInfoHeaderBytes = 40;
// Far above any real icon file: seven images of at most 256 pixels square.
constexpr std::uint64_t kIconFileLimit = 64 << 20;

// An image together with the name the user knows it by: a file of the directory, or an image
// inside the .ico.
struct NamedImage {
    std::string shown;
    IconImage image;
};

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

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
    std::vector<std::string> sizes;
    for (const int size : kIconSizes) sizes.push_back(std::to_string(size));
    return "(an icon set is one PNG image of each size: " + listed(sizes, " and ") + " pixels square)";
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
    std::string name = path.filename().string();
    if (name.size() < 4) return false;
    std::transform(name.end() - 4, name.end(), name.end() - 4,
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name.compare(name.size() - 4, 4, ".png") == 0;
}

// The size of a square PNG image of one of the icon sizes. Only the structure is checked, not
// the pixels: IHDR, where the dimensions are, must come first, and the chunks must run whole up
// to IEND, which catches a file cut short.
int png_icon_size(const Bytes& png, const std::string& shown) {
    if (!has_png_signature(png)) throw ToolError(shown + " is not a PNG image");
    const ToolError truncated(shown + " is truncated (its chunks end before IEND)");
    if (png.size() < 8 + 12 + 13) throw truncated;
    if (big_endian_32(png, 8) != 13 || std::memcmp(&png[12], "IHDR", 4) != 0) {
        throw ToolError(shown + " does not begin with an IHDR chunk, so it is not a valid PNG image");
    }
    const std::uint32_t width = big_endian_32(png, 16);
    const std::uint32_t height = big_endian_32(png, 20);
    if (width != height) {
        throw ToolError(shown + " is not square (" + std::to_string(width) + "x" + std::to_string(height) + " pixels)");
    }
    if (std::none_of(std::begin(kIconSizes), std::end(kIconSizes),
                     [&](int size) { return static_cast<std::uint32_t>(size) == width; })) {
        throw ToolError(shown + " is " + square(width) + " pixels, not an icon size " + what_a_set_is());
    }
    for (std::size_t at = 8;;) {
        // Length, type and CRC take 12 bytes around the chunk's data.
        if (png.size() - at < 12 || png.size() - at - 12 < big_endian_32(png, at)) throw truncated;
        const bool last = std::memcmp(&png[at + 4], "IEND", 4) == 0;
        at += 12 + big_endian_32(png, at);
        if (last) return static_cast<int>(width);
    }
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
        Bytes png = read_whole_file(file, kIconFileLimit, "an icon file");
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
    const Bytes ico = read_whole_file(path, kIconFileLimit, "an icon file");
    const std::string shown = quoted(path);
    if (has_png_signature(ico)) {
        throw ToolError(shown + " is a PNG image, not an .ico file; give a directory of seven PNG files or an "
                                ".ico file");
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

std::vector<unsigned char> ico_file(const std::vector<IconImage>& images) {
    Bytes ico;
    append_le(ico, 0, 2);  // reserved
    append_le(ico, 1, 2);  // an icon, not a cursor
    append_le(ico, images.size(), 2);
    std::uint64_t offset = kIcoHeaderBytes + kIcoEntryBytes * images.size();
    for (const auto& image : images) {
        const auto dimension = static_cast<unsigned char>(image.size >= 256 ? 0 : image.size);
        ico.push_back(dimension);
        ico.push_back(dimension);
        ico.push_back(0);  // no palette
        ico.push_back(0);  // reserved
        append_le(ico, 1, 2);   // colour planes
        append_le(ico, 32, 2);  // bits per pixel
        append_le(ico, image.png.size(), 4);
        append_le(ico, offset, 4);
        offset += image.png.size();
    }
    if (offset > UINT32_MAX) throw ToolError("the icons are too large for an .ico file (4 GiB at most)");
    for (const auto& image : images) ico.insert(ico.end(), image.png.begin(), image.png.end());
    return ico;
}

}  // namespace kelvor
