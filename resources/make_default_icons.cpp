// Draws the default icon set of launcher executables: a rounded square in a blue-to-teal
// gradient carrying a white "1" (one file), at each of the sizes of an icon group, written as
// icon-16.png ... icon-256.png into the directory given. Kept as a program rather than as
// images so that the icons can be remade and reviewed like code; every run writes the same
// bytes.
//
// The geometry uses only additions, multiplications and comparisons of doubles, which IEEE
// arithmetic rounds the same everywhere, and the PNG data is compressed by our own deflate
// encoder with integer arithmetic only, so no compression library and no version of one
// decides the bytes.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "deflate.h"

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

void put_big_endian(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

void put_chunk(Bytes& png, const char* type, const Bytes& data) {
    put_big_endian(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put_big_endian(png, crc32(png, start));  // over the type and the data
}

// The filter types of PNG: each row goes out as its difference from a prediction made from
// the pixels to its left and above, which turns the smooth gradient into runs of small numbers
// that deflate codes in a few bits.
enum Filter : unsigned char { kNone, kSub, kUp, kAverage, kPaeth, kFilterCount };

constexpr std::size_t kBytesPerPixel = 4;

// Of left, above and upper left, the one nearest to left + above - upper left; ties go in
// that order.
int paeth_predictor(int left, int above, int upper_left) {
    const int estimate = left + above - upper_left;
    const int to_left = estimate > left ? estimate - left : left - estimate;
    const int to_above = estimate > above ? estimate - above : above - estimate;
    const int to_upper_left = estimate > upper_left ? estimate - upper_left : upper_left - estimate;
    if (to_left <= to_above && to_left <= to_upper_left) return left;
    return to_above <= to_upper_left ? above : upper_left;
}

// `row` as `filter` sends it, given the row above it (all zeros above the first row).
Bytes filtered_row(Filter filter, const unsigned char* row, const unsigned char* above, std::size_t row_bytes) {
    Bytes out(row_bytes);
    for (std::size_t i = 0; i < row_bytes; ++i) {
        const int left = i >= kBytesPerPixel ? row[i - kBytesPerPixel] : 0;
        const int upper_left = i >= kBytesPerPixel ? above[i - kBytesPerPixel] : 0;
        int prediction = 0;
        switch (filter) {
            case kNone: prediction = 0; break;
            case kSub: prediction = left; break;
            case kUp: prediction = above[i]; break;
            case kAverage: prediction = (left + above[i]) / 2; break;
            default: prediction = paeth_predictor(left, above[i], upper_left); break;
        }
        out[i] = static_cast<unsigned char>(row[i] - prediction);  // modulo 256, as PNG defines it
    }
    return out;
}

// The usual heuristic for choosing a filter: the bytes, read as signed, with the smallest sum
// of magnitudes.
unsigned cost_of(const Bytes& filtered) {
    unsigned cost = 0;
    for (const unsigned char byte : filtered) cost += byte < 128 ? byte : 256 - byte;
    return cost;
}

// The image data of PNG before compression: each row as its filter type and its filtered
// bytes, with the cheapest filter for that row (the lowest type of equally cheap ones).
Bytes filtered_rows(int size, const Bytes& rgba) {
    const std::size_t row_bytes = static_cast<std::size_t>(size) * kBytesPerPixel;
    const Bytes zeros(row_bytes, 0);
    Bytes rows;
    for (std::size_t row = 0; row < static_cast<std::size_t>(size); ++row) {
        const unsigned char* pixels = rgba.data() + row * row_bytes;
        const unsigned char* above = row == 0 ? zeros.data() : pixels - row_bytes;
        Filter best_filter = kNone;
        Bytes best = filtered_row(kNone, pixels, above, row_bytes);
        for (int filter = kSub; filter < kFilterCount; ++filter) {
            Bytes candidate = filtered_row(static_cast<Filter>(filter), pixels, above, row_bytes);
            if (cost_of(candidate) < cost_of(best)) {
                best_filter = static_cast<Filter>(filter);
                best = std::move(candidate);
            }
        }
        rows.push_back(best_filter);
        rows.insert(rows.end(), best.begin(), best.end());
    }
    return rows;
}

Bytes png_file(int size, const Bytes& rgba) {
    Bytes header;
    put_big_endian(header, static_cast<std::uint32_t>(size));
    put_big_endian(header, static_cast<std::uint32_t>(size));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits per channel, RGBA, deflate, no interlace
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", kelvor::zlib_compress(filtered_rows(size, rgba)));
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
