// Icon sets: the default icons are a whole set; an .ico file written from a set reads back as
// the same set, laid out as Windows reads it; each kind of bad icon has its message.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "icon_set.h"
#include "little_endian.h"
#include "tool_error.h"
#include "tool_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using testing::ScratchDirectory;
using testing::write_file;

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    if (from + count > bytes.size()) throw std::out_of_range("slice past the end");
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The committed default icons, where the tool finds them: one 8-bit RGBA PNG of each size.
TEST(DefaultIcons, AreAWholeSetOfRgbaPngs) {
    const auto icons = read_icon_set(KELVOR_DEFAULT_ICONS_DIRECTORY);
    ASSERT_EQ(icons.size(), std::size(kIconSizes));
    for (std::size_t i = 0; i < icons.size(); ++i) {
        SCOPED_TRACE(kIconSizes[i]);
        EXPECT_EQ(icons[i].size, kIconSizes[i]);
        EXPECT_EQ(icons[i].png.at(24), 8);  // bits per channel
        EXPECT_EQ(icons[i].png.at(25), 6);  // RGBA
    }
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
        EXPECT_EQ(read_le(&entry[12], 4), offset);
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

// Small stand-in PNGs: the reader looks at the structure and the size of the image data,
// never at the pixels or the CRCs.
const auto chunk = testing::png_chunk;
const auto ihdr = testing::png_ihdr;
Bytes png(std::initializer_list<Bytes> chunks) { return testing::png_of_chunks(chunks); }
Bytes png_of(unsigned width, unsigned height) { return testing::png_image(width, height); }

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
        BadIcons{"image data shorter than its header declares",
                 [](const fs::path& s) { return directory_of(s, set_with(32, testing::png_image(32, 32, 32 * 129 - 1))); },
                 {"icon-32.png' has 4127 bytes of image data, but its header declares 4128 bytes of image data for "
                  "32x32 pixels"}},
        BadIcons{"no image data",
                 [](const fs::path& s) { return directory_of(s, set_with(16, png({ihdr(16, 16), chunk("IEND", {})}))); },
                 {"icon-16.png' has no image data (no IDAT chunk)"}},
        BadIcons{"damaged image data",
                 [](const fs::path& s) {
                     return directory_of(s, set_with(16, png({ihdr(16, 16), chunk("IDAT", Bytes(40, 7)), chunk("IEND", {})})));
                 },
                 {"icon-16.png' has damaged image data"}},
        BadIcons{"a bit depth that the colour type does not take",
                 [](const fs::path& s) {
                     Bytes image = png_of(48, 48);
                     image[24] = 4;  // RGBA at 4 bits a channel
                     return directory_of(s, set_with(48, image));
                 },
                 {"icon-48.png' has an IHDR that no PNG decoder takes (bit depth 4, colour type 6)"}},
        BadIcons{"an .ico image over the limit",
                 [](const fs::path& s) {
                     Bytes image = png_of(128, 128);
                     const Bytes filler = chunk("zTXt", Bytes(kIconImageLimit, 'z'));
                     image.insert(image.begin() + 33, filler.begin(), filler.end());  // after IHDR
                     return ico_of(s, ico_file(set_with(128, image)));
                 },
                 {"image 6 of '", "app.ico' is 1048", "bytes, more than an icon image can be (1048576 bytes)"}},
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
