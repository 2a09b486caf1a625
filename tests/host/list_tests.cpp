// Reading payload blocks back: list reports each kind of damage by the part it is in.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zstd.h>

#include "little_endian.h"
#include "payload_block_reader.h"
#include "tool_error.h"
#include "tool_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using testing::block_of;
using testing::concat;
using testing::end_marker;
using testing::entry;

const Bytes kGoodStream = concat({entry(u"app.dll", "MZ"), entry(u"data\\empty", ""),
                                  entry(u"data\\x.bin", std::string(100000, 'x')), end_marker()});

// Data that does not compress, so that its frame holds it as it is, in raw blocks: a changed
// byte there still decodes, and only the checksum can tell.
std::string noise(size_t size) {
    std::string text;
    for (std::uint32_t x = 1; text.size() < size;) text.push_back(static_cast<char>((x = x * 1103515245 + 12345) >> 24));
    return text;
}
// A name of 1,022 units that does not compress either, and that the launcher takes (no
// surrogate, nothing from ASCII): a name that runs on past its end breaks the launcher's limit
// within two more units.
std::u16string noise_name() {
    const std::string bytes = noise(2 * 1022);
    std::u16string name;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) << 8 | static_cast<unsigned char>(bytes[i + 1]));
        name.push_back(unit < 0x80 || (unit >= 0xD800 && unit <= 0xDFFF) ? u'n' : unit);
    }
    return name;
}
// Longer than the decoder's output piece, so that the entry stream is read well before the
// frame's end, where the checksum is checked.
const Bytes kRawStream = concat({entry(noise_name(), noise(300000)), end_marker()});

// A checksummed block of kRawStream with one byte changed at this offset of the entry stream,
// which its one raw block holds as it is.
Bytes with_raw_stream_byte_changed(size_t stream_offset) {
    auto block = block_of(kRawStream, true);
    ZSTD_frameHeader header;
    ZSTD_getFrameHeader(&header, block.data() + 3, block.size() - 3);
    const size_t block_header = 3 + header.headerSize;
    if ((block[block_header] >> 1 & 3) != 0) throw std::logic_error("the stream was compressed after all");
    block[block_header + 3 + stream_offset] ^= 0x01;
    return block;
}

std::string damage_message(const Bytes& block) {
    try {
        read_payload_block(block.data(), block.size());
    } catch (const ToolError& error) {
        return error.what();
    }
    return "(accepted)";
}

TEST(ReadBlock, ListsEntriesAndTotals) {
    const Bytes block = block_of(kGoodStream);
    const auto contents = read_payload_block(block.data(), block.size());
    ASSERT_EQ(contents.entries.size(), 3u);
    EXPECT_EQ(contents.entries[0].name, u"app.dll");
    EXPECT_EQ(contents.entries[1].size, 0u);
    EXPECT_EQ(contents.entries[2].size, 100000u);
    EXPECT_EQ(contents.file_bytes, 100002u);
    EXPECT_EQ(contents.stream_bytes, kGoodStream.size());
    EXPECT_EQ(contents.block_bytes, block.size());
    EXPECT_EQ(contents.frame_bytes, block.size() - 15);
}

struct Damage {
    const char* label;
    std::function<Bytes()> make;
    const char* message;
};

const Damage kDamages[] = {
    {"lower-case header", [] { auto b = block_of(kGoodStream); b[0] = 'k'; return b; }, "header:"},
    {"third header byte", [] { auto b = block_of(kGoodStream); b[2] = 'Z'; return b; }, "header:"},
    {"too short for a header", [] { return Bytes{'K', 'A'}; }, "header:"},
    {"not a zstd frame", [] { auto b = block_of(kGoodStream); b[3] ^= 0xFF; return b; }, "frame:"},
    {"cut inside the frame", [] { auto b = block_of(kGoodStream); b.resize(b.size() / 2); return b; }, "frame:"},
    {"corrupted block header",
     [] {
         auto b = block_of(kGoodStream);
         // The first block header follows the magic number and the frame header.
         ZSTD_frameHeader header;
         ZSTD_getFrameHeader(&header, b.data() + 3, b.size() - 3);
         b[3 + header.headerSize + 2] = 0xFF;
         return b;
     },
     "frame:"},
    {"entry stream without an end marker",
     [] { return block_of(concat({entry(u"app.dll", "MZ")})); }, "entry stream: truncated in the name of entry 2"},
    {"entry stream cut inside data",
     [] {
         auto stream = entry(u"app.dll", "MZMZMZ");
         stream.resize(stream.size() - 2);
         return block_of(stream);
     },
     "entry stream: truncated in the data of entry 1 'app.dll' (4 of 6 bytes)"},
    {"entry stream cut inside a size",
     [] {
         auto stream = entry(u"app.dll", "");
         stream.resize(stream.size() - 3);
         return block_of(stream);
     },
     "entry stream: truncated in the size of entry 1"},
    {"bytes after the end marker", [] { return block_of(concat({kGoodStream, Bytes{1, 2, 3}})); },
     "entry stream: 3 bytes follow the end marker"},
    {"name too long",
     [] { return block_of(concat({entry(std::u16string(1024, u'n'), ""), end_marker()})); },
     "entry stream: the name of entry 1 is longer than 1023"},
    {"zero tail not zero", [] { auto b = block_of(kGoodStream); b[b.size() - 10] = 1; return b; },
     "tail: byte"},
    {"tail offset wrong", [] { auto b = block_of(kGoodStream); b[b.size() - 8] ^= 1; return b; },
     "tail: the tail offset holds"},
    {"tail missing", [] { auto b = block_of(kGoodStream); b.resize(b.size() - 12); return b; }, "tail: 0 bytes"},
    {"bytes after the tail", [] { auto b = block_of(kGoodStream); b.insert(b.end(), 8, 0); return b; },
     "tail: 8 bytes follow the tail offset"},
    {"checksum changed", [] { auto b = block_of(kGoodStream, true); b[b.size() - 13] ^= 0x40; return b; },
     "frame: the content checksum does not match the decoded data"},
    {"file data changed under a checksum", [] { return with_raw_stream_byte_changed(4000); },
     "frame: the content checksum does not match"},
    // The name runs on past its end and breaks the name limit; the checksum, which fails too,
    // is what is reported.
    {"name end changed under a checksum", [] { return with_raw_stream_byte_changed(2044); },
     "frame: the content checksum does not match"},
};

class ReadBlockDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(ReadBlockDamage, IsReportedWithItsPart) {
    const std::string message = damage_message(GetParam().make());
    EXPECT_EQ(message.rfind(GetParam().message, 0) == 0 || message.find(GetParam().message) != std::string::npos,
              true)
        << message;
}

INSTANTIATE_TEST_SUITE_P(Damages, ReadBlockDamage, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<Damage>& param) { return testing::case_name(param.param.label); });

TEST(ReadBlock, ChecksIntactFramesWithAndWithoutAChecksum) {
    const Bytes raw_block = block_of(kRawStream, true);
    EXPECT_TRUE(read_payload_block(raw_block.data(), raw_block.size()).has_checksum);
    EXPECT_EQ(damage_message(raw_block), "(accepted)");
    const Bytes plain = block_of(kRawStream, false);
    EXPECT_FALSE(read_payload_block(plain.data(), plain.size()).has_checksum);
}

TEST(ListCommand, PrintsEntriesAndTotalsAndFailsOnDamage) {
    testing::ScratchDirectory scratch;
    const Bytes good = block_of(kGoodStream, true);
    testing::write_file(scratch / "good.bin", std::string(good.begin(), good.end()));
    const auto listed = testing::run_tool({"list", (scratch / "good.bin").string()});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_NE(listed.out.find("        100000  data\\x.bin\n"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("3 entries, 100002 bytes of files"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find(", content checksum verified, window "), std::string::npos) << listed.out;

    Bytes bad = good;
    bad.at(bad.size() - 8) ^= 1;
    testing::write_file(scratch / "bad.bin", std::string(bad.begin(), bad.end()));
    const auto damaged = testing::run_tool({"list", (scratch / "bad.bin").string()});
    EXPECT_EQ(damaged.exit_code, 1);
    EXPECT_NE(damaged.err.find("bad.bin': tail:"), std::string::npos) << damaged.err;

    const auto missing = testing::run_tool({"list", (scratch / "none.bin").string()});
    EXPECT_EQ(missing.exit_code, 1);
    EXPECT_NE(missing.err.find("cannot read"), std::string::npos) << missing.err;
}

// Only regular files are read: a FIFO would wait for a writer, a device would never end.
TEST(ListCommand, RefusesWhatIsNotARegularFileAtOnce) {
    testing::ScratchDirectory scratch;
    ASSERT_EQ(mkfifo((scratch / "fifo").c_str(), 0600), 0);
    for (const fs::path& file : {scratch / "fifo", fs::path("/dev/zero"), scratch.path()}) {
        const auto run = testing::run_tool({"list", file.string()});
        EXPECT_EQ(run.exit_code, 1) << file;
        EXPECT_NE(run.err.find("'" + file.string() + "' is not a regular file"), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace kelvor
