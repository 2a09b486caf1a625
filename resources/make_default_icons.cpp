// Draws the default icon set of launcher executables: a rounded square in a blue-to-teal
// gradient carrying a white "1" (one file), at each of the sizes of an icon group, written as
// icon-16.png ... icon-256.png into the directory given. Kept as a program rather than as
// images so that the icons can be remade and reviewed like code; every run writes the same
// bytes.
//
// The geometry uses only additions, multiplications and comparisons of doubles, which IEEE
// arithmetic rounds the same everywhere, and the PNG files use stored (uncompressed) deflate
// blocks, so no compression library and no version of one decides the bytes.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int kSizes[] = {16, 24, 32, 48, 64, 128, 256};
constexpr int kSamplesPerAxis = 8;  // 64 samples a pixel smooth the edges at every size

struct Colour {
    double red, green, blue;
};

constexpr Colour kTopLeft{0x2F, 0x6F, 0xEB};      // blue
constexpr Colour kBottomRight{0x17, 0xB3, 0xA3};  // teal
constexpr Colour kWhite{0xFF, 0xFF, 0xFF};

// The drawing, in units of the icon's side with y pointing down.
constexpr double kCornerRadius = 0.2;

struct Stroke {
    double x0, y0, x1, y1, radius;
};

// The "1": its stem, the flag at the top and the foot, each a stroke with round ends. The stem
// and the flag share their top end and their width, so the top is one smooth curve; the stem's
// lower end lies inside the foot.
constexpr Stroke kOne[] = {
    {0.53, 0.29, 0.53, 0.69, 0.07},
    {0.53, 0.29, 0.375, 0.39, 0.07},
    {0.385, 0.72, 0.675, 0.72, 0.055},
};

// The margin around the square is a whole number of pixels (a sixteenth of the side, rounded
// down), so that its straight edges are crisp at every size.
double margin_for(int size) { return static_cast<double>(size / 16) / size; }

bool inside_rounded_square(double margin, double x, double y) {
    if (x < margin || x > 1 - margin || y < margin || y > 1 - margin) return false;
    // Only the corners are round: there the point must lie within the corner's circle.
    const double low = margin + kCornerRadius;
    const double high = 1 - margin - kCornerRadius;
    const double dx = x < low ? low - x : x > high ? x - high : 0;
    const double dy = y < low ? low - y : y > high ? y - high : 0;
    return dx * dx + dy * dy <= kCornerRadius * kCornerRadius;
}

bool inside_stroke(const Stroke& stroke, double x, double y) {
    const double sx = stroke.x1 - stroke.x0;
    const double sy = stroke.y1 - stroke.y0;
    double along = ((x - stroke.x0) * sx + (y - stroke.y0) * sy) / (sx * sx + sy * sy);
    along = along < 0 ? 0 : along > 1 ? 1 : along;
    const double dx = x - (stroke.x0 + along * sx);
    const double dy = y - (stroke.y0 + along * sy);
    return dx * dx + dy * dy <= stroke.radius * stroke.radius;
}

bool inside_one(double x, double y) {
    for (const Stroke& stroke : kOne) {
        if (inside_stroke(stroke, x, y)) return true;
    }
    return false;
}

// Diagonal, from the top-left corner to the bottom-right one.
Colour gradient(double x, double y) {
    const double t = (x + y) / 2;
    return {kTopLeft.red + (kBottomRight.red - kTopLeft.red) * t,
            kTopLeft.green + (kBottomRight.green - kTopLeft.green) * t,
            kTopLeft.blue + (kBottomRight.blue - kTopLeft.blue) * t};
}

unsigned char channel(double value) { return static_cast<unsigned char>(value + 0.5); }

// RGBA rows, not premultiplied, as PNG stores them.
Bytes draw_icon(int size) {
    Bytes pixels;
    const double step = 1.0 / (size * kSamplesPerAxis);
    const double margin = margin_for(size);
    for (int row = 0; row < size; ++row) {
        for (int column = 0; column < size; ++column) {
            Colour sum{0, 0, 0};
            int covered = 0;
            for (int i = 0; i < kSamplesPerAxis * kSamplesPerAxis; ++i) {
                const double x = ((column * kSamplesPerAxis + i % kSamplesPerAxis) + 0.5) * step;
                const double y = ((row * kSamplesPerAxis + i / kSamplesPerAxis) + 0.5) * step;
                if (!inside_rounded_square(margin, x, y)) continue;
                const Colour colour = inside_one(x, y) ? kWhite : gradient(x, y);
                sum = {sum.red + colour.red, sum.green + colour.green, sum.blue + colour.blue};
                ++covered;
            }
            const double share = covered ? 1.0 / covered : 0;
            pixels.push_back(channel(sum.red * share));
            pixels.push_back(channel(sum.green * share));
            pixels.push_back(channel(sum.blue * share));
            pixels.push_back(channel(255.0 * covered / (kSamplesPerAxis * kSamplesPerAxis)));
        }
    }
    return pixels;
}

std::uint32_t crc32(const Bytes& bytes, std::size_t from) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = from; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

std::uint32_t adler32(const Bytes& bytes) {
    std::uint32_t low = 1, high = 0;
    for (const unsigned char byte : bytes) {
        low = (low + byte) % 65521;
        high = (high + low) % 65521;
    }
    return high << 16 | low;
}

void put_big_endian(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

void put_little_endian_16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void put_chunk(Bytes& png, const char* type, const Bytes& data) {
    put_big_endian(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put_big_endian(png, crc32(png, start));  // over the type and the data
}

// A zlib stream of stored deflate blocks, each at most 65,535 bytes.
Bytes zlib_stored(const Bytes& data) {
    Bytes stream{0x78, 0x01};  // deflate with a 32 KiB window; the check bits make it a multiple of 31
    std::size_t at = 0;
    do {
        const std::size_t count = data.size() - at < 65535 ? data.size() - at : 65535;
        stream.push_back(at + count == data.size() ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
        put_little_endian_16(stream, static_cast<std::uint32_t>(count));
        put_little_endian_16(stream, static_cast<std::uint32_t>(~count));
        stream.insert(stream.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                      data.begin() + static_cast<std::ptrdiff_t>(at + count));
        at += count;
    } while (at < data.size());
    put_big_endian(stream, adler32(data));
    return stream;
}

Bytes png_file(int size, const Bytes& rgba) {
    Bytes header;
    put_big_endian(header, static_cast<std::uint32_t>(size));
    put_big_endian(header, static_cast<std::uint32_t>(size));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits per channel, RGBA, deflate, no interlace
    Bytes rows;
    const std::size_t row_bytes = static_cast<std::size_t>(size) * 4;
    for (std::size_t row = 0; row < static_cast<std::size_t>(size); ++row) {
        rows.push_back(0);  // filter type None
        rows.insert(rows.end(), rgba.begin() + static_cast<std::ptrdiff_t>(row * row_bytes),
                    rgba.begin() + static_cast<std::ptrdiff_t>((row + 1) * row_bytes));
    }
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", zlib_stored(rows));
    put_chunk(png, "IEND", {});
    return png;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("Usage: make_default_icons OUTPUT_DIRECTORY\n", stderr);
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    for (const int size : kSizes) {
        const Bytes png = png_file(size, draw_icon(size));
        const auto path = directory / ("icon-" + std::to_string(size) + ".png");
        std::ofstream file(path, std::ios::binary);
        file.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
        file.close();
        if (!file) {
            std::fprintf(stderr, "make_default_icons: cannot write '%s'\n", path.string().c_str());
            return 1;
        }
    }
    return 0;
}
