// The payload stream reader: requests of any size are served exactly, across decoded batches,
// whatever the decoder delivers per call.
#include <gtest/gtest.h>

#include "path_template/path_template_variables.h"
#include "payload/file_unpacker.h"
#include "payload/image_data.h"
#include "payload/image_data_layout.h"
#include "payload/payload_block.h"
#include "payload/payload_stream.h"
#include "payload_builder.h"
#include "windows_test_support.h"

namespace kelvor::testing {
namespace {

// Bytes whose value depends on their position, so a misplaced byte shows.
std::string pattern(size_t size, unsigned seed = 0) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed + (i >> 8)) & 0xFF);
    return bytes;
}

// Opens the stream over a block that stays alive for the test.
class PayloadStreamTest : public ::testing::Test {
protected:
    void open(std::string block) {
        block_ = std::move(block);
        open_payload_stream(reinterpret_cast<const unsigned char*>(block_.data()), block_.size());
    }
    std::string read(size_t n) {
        std::string bytes(n, '\0');
        payload_read(bytes.data(), n);
        return bytes;
    }
    void TearDown() override { close_payload_stream(); }

private:
    std::string block_;
};

TEST_F(PayloadStreamTest, TwoByteRequestAcrossTwoBatches) {
    const std::string content = pattern(3 * decode_buffer_size);
    open(payload_block(raw_frame(content)));
    ASSERT_EQ(first_difference(read(decode_buffer_size - 1), content.substr(0, decode_buffer_size - 1)), "");
    // The first byte is the last of one batch, the second the first of the next.
    EXPECT_EQ(read(2), content.substr(decode_buffer_size - 1, 2));
    EXPECT_EQ(read(10), content.substr(decode_buffer_size + 1, 10));
}

TEST_F(PayloadStreamTest, LargeRequestOverManySmallBatches) {
    // The decoder stops at the end of each frame, so every batch here is 1,000 bytes.
    const std::string content = pattern(40000);
    std::string frames;
    for (size_t at = 0; at < content.size(); at += 1000) frames += raw_frame(content.substr(at, 1000));
    open(payload_block(frames));
    EXPECT_EQ(read(5), content.substr(0, 5));
    EXPECT_EQ(first_difference(read(32768), content.substr(5, 32768)), "");
    EXPECT_EQ(first_difference(read(40000 - 32773), content.substr(32773)), "");
}

TEST_F(PayloadStreamTest, DecoderCallsThatYieldNothingAreFollowedByAnother) {
    // A skippable frame is consumed by a call that produces no bytes while input remains.
    const std::string first = pattern(700, 1), second = pattern(900, 2);
    open(payload_block(raw_frame(first) + skippable_frame(16) + skippable_frame(3) + raw_frame(second)));
    EXPECT_EQ(first_difference(read(1600), first + second), "");
}

TEST_F(PayloadStreamTest, RequestsAtBlockBoundariesOfOneFrame) {
    const std::string content = pattern(300000, 7);
    open(payload_block(raw_frame(content, 4096)));
    std::string delivered;
    for (const size_t n : {1, 4095, 2, 8, 32768, 131072, 132054}) delivered += read(n);
    EXPECT_EQ(first_difference(delivered, content), "");
}

// The packer's payload of the sample tree, read the way the unpacker reads it: names one code
// unit at a time (the unpacker's own reader), sizes, then data in pieces of at most 32,768 bytes.
TEST_F(PayloadStreamTest, PackerPayloadReadRequestByRequestGivesBackTheFiles) {
    open(read_file(test_data_path(L"sample.payload")));
    std::map<std::wstring, std::string> files;
    while (read_entry_name()) {
        unsigned long long size = 0;
        payload_read(&size, 8);
        std::string& data = files[entry_name];
        for (unsigned long long left = size; left > 0;) {
            const size_t piece = left < 32768 ? static_cast<size_t>(left) : 32768;
            data += read(piece);
            left -= piece;
        }
    }
    const auto expected = read_tree(test_data_path(L"sample-tree"));
    ASSERT_EQ(files.size(), expected.size());
    for (const auto& [name, data] : expected) EXPECT_EQ(first_difference(files[name], data), "") << narrow(name);
}

// Reads every entry as a parent run does, then requires the frame to end there.
void read_to_frame_end(const std::string& block) {
    static std::string kept;  // the stream reads the block in place
    kept = block;
    open_payload_stream(reinterpret_cast<const unsigned char*>(kept.data()), kept.size());
    while (read_entry_name()) {
        unsigned long long size = 0;
        payload_read(&size, 8);
        std::string data(static_cast<size_t>(size), '\0');
        if (size > 0) payload_read(data.data(), data.size());
    }
    require_frame_end();
    close_payload_stream();
}

// After the end marker the frame must end, and its checksum, when it has one, must hold:
// damage that only the checksum shows stops the run before the application starts.
TEST(FrameEnd, OnlyAFrameThatEndsRightAfterTheEndMarkerPasses) {
    const std::string stream = entry_bytes(L"app.dll", pattern(5000)) + entry_bytes(L"a\\b.txt", "b");
    const std::string entries = stream + end_marker_bytes();
    std::string wrong_checksum = payload_block(raw_frame(entries, 1000, true));
    wrong_checksum[wrong_checksum.size() - 13] ^= 0x01;  // the checksum's last byte, before the tail
    // A frame with no last block: the zero tail reads as empty blocks until the input runs out.
    std::string unended = raw_frame(entries, 1000);
    unended[unended.size() - entries.size() % 1000 - 3] &= static_cast<char>(0xFE);

    const std::pair<const char*, std::string> passing[] = {
        {"checksummed", payload_block(raw_frame(entries, 1000, true))},
        {"without a checksum", payload_block(raw_frame(entries, 1000))},
        {"one block per byte of the end", payload_block(raw_frame(entries, 1, true))},
    };
    for (const auto& [what, block] : passing) {
        EXPECT_EXIT({ read_to_frame_end(block); exit(0); }, ::testing::ExitedWithCode(0), "") << what;
    }
    const std::pair<const char*, std::string> failing[] = {
        {"a wrong checksum", wrong_checksum},
        {"bytes after the end marker", payload_block(raw_frame(entries + "xy", 1000, true))},
        {"a frame that does not end", payload_block(unended)},
    };
    for (const auto& [what, block] : failing) {
        EXPECT_EXIT(read_to_frame_end(block), ::testing::ExitedWithCode(2), "") << what;
    }
}

// The build links the packer's block into this program's image as it does into a launcher.
TEST(EmbeddedPayload, IsTheWholeBlockInReadOnlyImageData) {
    const std::string expected = read_file(test_data_path(L"sample.payload"));
    ASSERT_EQ(image_data.payload_size, expected.size());
    EXPECT_EQ(first_difference(std::string(reinterpret_cast<const char*>(image_data.payload_block), expected.size()),
                               expected),
              "");
    const std::string default_template = path_template_language::default_template;
    EXPECT_EQ(std::wstring(image_data.path_template), std::wstring(default_template.begin(), default_template.end()));
    MEMORY_BASIC_INFORMATION region;
    ASSERT_NE(VirtualQuery(image_data.payload_block, &region, sizeof region), 0u);
    EXPECT_EQ(region.Type, static_cast<DWORD>(MEM_IMAGE));
    EXPECT_EQ(region.Protect, static_cast<DWORD>(PAGE_READONLY));
}


// An image in memory with one section, at 0x400, holding data.
std::string image_with_section(const std::string& data, uint32_t virtual_size, const char* name = ".kelvor") {
    std::string image(0x400, '\0');
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(image.data());
    dos->e_lfanew = 0x40;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS64*>(image.data() + 0x40);
    nt->FileHeader.NumberOfSections = 1;
    nt->FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER64);
    IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    memcpy(section->Name, name, strlen(name));
    section->VirtualAddress = 0x400;
    section->Misc.VirtualSize = virtual_size;
    image += data;
    image.resize(0x400 + std::max<size_t>(virtual_size, data.size()), '\0');
    return image;
}

std::string image_data_bytes(uint32_t format, const std::vector<uint32_t>& string_offsets, uint64_t payload_offset,
                             uint64_t payload_size, const std::string& rest) {
    std::string data(reinterpret_cast<const char*>(image_data_layout::magic), sizeof image_data_layout::magic);
    auto put = [&data](uint64_t value, size_t count) {
        for (size_t i = 0; i < count; ++i) data.push_back(static_cast<char>(value >> (8 * i)));
    };
    put(format, 4);
    for (const uint32_t offset : string_offsets) put(offset, 4);
    put(payload_offset, 8);
    put(payload_size, 8);
    return data + rest;
}

TEST(ImageData, IsTakenOnlyWhenEveryPartLiesWithinTheSection) {
    // Five strings: "A" at 48, 52, 56, 60 and 64 (each 'A' and a NUL in UTF-16), zeros up to 80,
    // then a payload of 16 bytes that ends the section at 96.
    std::string tail;
    for (int i = 0; i < 5; ++i) tail += std::string("A\0\0\0", 4);
    tail += std::string(80 - 48 - tail.size(), '\0') + "KAY" + std::string(13, 'p');
    const std::vector<uint32_t> good = {48, 52, 56, 60, 64};
    const struct {
        const char* what;
        std::string image;
        bool found;
    } cases[] = {
        {"a well-formed section", image_with_section(image_data_bytes(1, good, 80, 16, tail), 96), true},
        {"a virtual size past the file data", image_with_section(image_data_bytes(1, good, 80, 16, tail), 4096), true},
        {"no such section", image_with_section(image_data_bytes(1, good, 80, 16, tail), 96, ".rdata"), false},
        {"another format", image_with_section(image_data_bytes(2, good, 80, 16, tail), 96), false},
        {"a payload past the section", image_with_section(image_data_bytes(1, good, 80, 17, tail), 96), false},
        {"a payload offset past the section", image_with_section(image_data_bytes(1, good, 97, 0, tail), 96), false},
        {"a payload size that wraps", image_with_section(image_data_bytes(1, good, 80, ~uint64_t{0} - 40, tail), 96),
         false},
        {"a string inside the header", image_with_section(image_data_bytes(1, {48, 52, 8, 60, 64}, 80, 16, tail), 96),
         false},
        {"a string at an odd offset", image_with_section(image_data_bytes(1, {48, 52, 57, 60, 64}, 80, 16, tail), 96),
         false},
        {"a string without its NUL", image_with_section(image_data_bytes(1, {48, 52, 56, 60, 94}, 80, 16, tail), 96),
         false},
        {"a section shorter than the header", image_with_section(image_data_bytes(1, good, 80, 16, ""), 40), false},
    };
    for (const auto& c : cases) {
        ImageData data{};
        EXPECT_EQ(find_image_data(reinterpret_cast<const unsigned char*>(c.image.data()), data), c.found) << c.what;
        if (c.found) {
            EXPECT_EQ(data.payload_size, 16u) << c.what;
            EXPECT_EQ(memcmp(data.payload_block, "KAY", 3), 0) << c.what;
            EXPECT_EQ(std::wstring(data.path_template), L"A") << c.what;
        }
    }
}

}  // namespace
}  // namespace kelvor::testing
