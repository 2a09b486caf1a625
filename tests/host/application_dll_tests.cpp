// The application DLL check against damaged images: whatever the bytes, it ends with an
// answer. Reads outside the file are refused by InputFile, reads outside a field's bytes are
// a logic_error, which fails these tests.
#include <gtest/gtest.h>

#include "application_dll.h"
#include "tool_error.h"
#include "tool_support.h"

namespace kelvor {
namespace {

// Accepted, or refused with a ToolError; anything else (another exception, a crash, a hang)
// fails the test.
bool accepted(const std::filesystem::path& file, const std::string& image) {
    testing::write_file(file, image);
    try {
        check_application_dll(file);
        return true;
    } catch (const ToolError&) {
        return false;
    }
}

TEST(ApplicationDll, EveryImageCutShortOfItsExportNameIsRefused) {
    testing::ScratchDirectory scratch;
    const std::string image = testing::dll_image();
    const size_t needed = image.find("run_code") + sizeof "run_code";
    for (size_t size = 0; size < image.size(); ++size) {
        EXPECT_EQ(accepted(scratch / "cut.dll", image.substr(0, size)), size >= needed) << "cut at " << size;
    }
}

// Every byte of the headers, tables and names set to values that make offsets and counts
// run wild.
TEST(ApplicationDll, DamagedFieldsEndInAnAnswer) {
    testing::ScratchDirectory scratch;
    testing::DllShape shape;
    shape.exports = {"alpha", "run_code", "omega"};
    const std::string image = testing::dll_image(shape);
    const size_t end = image.find("omega") + sizeof "omega";
    size_t refused = 0;
    for (size_t at = 0; at < end; ++at) {
        for (const unsigned char value : {0x00, 0x01, 0x40, 0x7F, 0xFF}) {
            std::string damaged = image;
            damaged[at] = static_cast<char>(value);
            refused += accepted(scratch / "damaged.dll", damaged) ? 0 : 1;
        }
    }
    EXPECT_GT(refused, 5 * 8u) << "damage to the signatures at least is refused";
}

}  // namespace
}  // namespace kelvor
