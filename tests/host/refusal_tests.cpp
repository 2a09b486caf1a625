// What the tool refuses, as a user meets it: each row is a hostile input to the real binary
// (an output that is an input under another name, a template that no run can create, an icon
// that would inflate without end, an extract target that cannot be renamed to, a payload that
// the launcher would reject), with the message it must print. A refused run prints one line,
// exits with 1, writes nothing and changes no input.
#include <gtest/gtest.h>

#include <functional>

#include "icon_set.h"
#include "tool_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::entry;

struct Refusal {
    const char* label;
    std::function<std::vector<std::string>(const fs::path& root)> prepare;  // writes its inputs, returns the arguments
    std::string message;
};

std::vector<std::string> with(std::vector<std::string> arguments, const std::vector<std::string>& extra) {
    arguments.insert(arguments.end(), extra.begin(), extra.end());  // a later -o wins
    return arguments;
}

std::vector<std::string> pack(const fs::path& root, const std::vector<std::string>& extra = {}) {
    return with({"pack", "--app", (root / "app.dll").string(), "--dir", (root / "tree").string(), "-o",
                 (root / "out" / "payload.bin").string()},
                extra);
}

std::vector<std::string> build(const fs::path& root, const std::vector<std::string>& extra = {}) {
    return with({"build", "--app", (root / "app.dll").string(), "--dir", (root / "tree").string(), "-o",
                 (root / "out" / "App.exe").string(), "--launcher-dir", (root / "launcher").string()},
                extra);
}

std::vector<std::string> template_build(const fs::path& root, const std::string& path_template,
                                        const std::vector<std::string>& extra = {}) {
    return build(root, with({"--template", path_template}, extra));
}

// The default icons with one image replaced, in a folder of their own.
fs::path icons_with(const fs::path& root, const std::string& file, const Bytes& image) {
    const fs::path icons = root / "changed-icons";
    fs::copy(root / "icons", icons);
    testing::write_bytes(icons / file, image);
    return icons;
}

// extract of a damaged payload to this target.
std::function<std::vector<std::string>(const fs::path&)> extracting_damaged_to(std::string target) {
    return [target](const fs::path& root) {
        Bytes block = testing::block_of_entries({entry(u"app.dll", "MZ")});
        block[block.size() - 13] ^= 0x40;  // the frame's checksum
        testing::write_bytes(root / "damaged.bin", block);
        return std::vector<std::string>{"extract", (root / "damaged.bin").string(), "-o", target};
    };
}

const char* const kDevice = "is a name that Windows reads as a device";
const char* const kDotOrSpace = "ends in a dot or a space, which Windows drops from a path";

const Refusal kRefusals[] = {
    // The output is never an input, whatever name reaches it.
    {"output over an icon of the icon folder",
     [](const fs::path& root) {
         return build(root, {"--icon", (root / "icons").string(), "-o", (root / "icons" / "icon-128.png").string()});
     },
     "icon-128.png', which is read for --icon; writing it would destroy that input"},
    {"output over a hard link of a default icon",
     [](const fs::path& root) {
         fs::create_hard_link(root / "icons" / "icon-16.png", root / "out" / "App.exe");
         return build(root, {"--icon", (root / "icons").string()});
     },
     "icon-16.png', which is read for --icon"},
    {"output named through a link below --dir",
     [](const fs::path& root) {
         testing::write_file(root / "victim.bin", "victim");
         fs::create_symlink("../victim.bin", root / "tree" / "victim.bin");
         return pack(root, {"-o", (root / "victim.bin").string()});
     },
     "tree/victim.bin', which is read for --dir; writing it would destroy that input"},
    {"output over a hard link of a packed file",
     [](const fs::path& root) {
         fs::create_hard_link(root / "tree" / "sub" / "more.txt", root / "hard.bin");
         return pack(root, {"-o", (root / "hard.bin").string()});
     },
     "more.txt', which is read for --dir"},
    // Templates that pass the launcher's scanner but that no run can create.
    {"template with a device", [](const fs::path& root) { return template_build(root, "{TEMP}\\con\\x{RANDOM}"); },
     "the part 'con' is a name that Windows reads as a device"},
    {"template with a device and an extension",
     [](const fs::path& root) { return template_build(root, "{TEMP}\\nul.txt\\x{RANDOM}"); }, kDevice},
    {"template with a company that is a device",
     [](const fs::path& root) { return template_build(root, "{TEMP}\\{COMPANY}\\x{RANDOM}", {"--company", "CON"}); },
     kDevice},
    {"template part of 300 characters",
     [](const fs::path& root) { return template_build(root, "{TEMP}\\" + std::string(300, 'p') + "\\x{RANDOM}"); },
     "can be 300 characters long; Windows takes at most 255 in one part of a path"},
    {"template whose expansion cannot fit",
     [](const fs::path& root) { return template_build(root, "C:\\" + std::string(4090, 'c') + "\\{RANDOM}"); },
     "it can be 4105 characters long"},
    {"template part ending in a space",
     [](const fs::path& root) { return template_build(root, "{TEMP}\\x \\{RANDOM}"); }, kDotOrSpace},
    {"template part ending in a dot",
     [](const fs::path& root) { return template_build(root, "{TEMP}\\x.\\{RANDOM}"); }, kDotOrSpace},
    // Icons are bounded.
    {"icon with a 2 MiB chunk",
     [](const fs::path& root) {
         Bytes image = testing::png_image(128, 128);
         const Bytes chunk = testing::png_chunk("zTXt", Bytes(2 << 20, 'z'));
         image.insert(image.begin() + 33, chunk.begin(), chunk.end());  // after IHDR
         return build(root, {"--icon", icons_with(root, "icon-128.png", image).string()});
     },
     "bytes, more than an icon image can be (1048576 bytes)"},
    {"16x16 icon whose pixels inflate to 200 MB",
     [](const fs::path& root) {
         return build(root, {"--icon", icons_with(root, "icon-16.png", testing::png_image(16, 16, 200 << 20)).string()});
     },
     "icon-16.png' has more image data than its header declares 1040 bytes of image data for 16x16 pixels"},
    // The system's reason when the tool's own files cannot be written or its programs started.
    {"embed into a folder that is not there",
     [](const fs::path& root) {
         return std::vector<std::string>{"embed", "--payload", (root / "app.dll").string(), "--output-dir",
                                         (root / "missing").string(), "--name", "App.exe"};
     },
     "missing/image-data.head': No such file or directory"},
    // extract checks its target before it decodes anything: the payload here is damaged.
    {"extract to ''", extracting_damaged_to(""), "-o '' does not name a directory of its own"},
    {"extract to '.'", extracting_damaged_to("."), "-o '.' does not name a directory of its own"},
};

class ToolRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(ToolRefuses, WithOneLineAndNothingWritten) {
    testing::ScratchDirectory root;
    testing::write_file(root / "app.dll", testing::dll_image());
    testing::write_file(root / "tree" / "data.txt", "data");
    testing::write_file(root / "tree" / "sub" / "more.txt", "more");
    fs::copy(KELVOR_DEFAULT_ICONS_DIRECTORY, root / "icons");
    testing::write_prebuilt_launchers(root / "launcher");
    fs::create_directory(root / "out");
    const auto arguments = GetParam().prepare(root.path());
    const auto before = testing::snapshot(root.path());
    const auto run = testing::run_tool(arguments);
    EXPECT_EQ(run.exit_code, 1) << run.out;
    EXPECT_NE(run.err.find(GetParam().message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(testing::snapshot(root.path()), before) << "something was written or an input changed";
}

INSTANTIATE_TEST_SUITE_P(HostileInputs, ToolRefuses, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& param) {
                             return testing::case_name(param.param.label);
                         });

// Payloads that the launcher rejects: list refuses them as extract does, with the same message.
struct RejectedPayload {
    const char* label;
    std::vector<Bytes> entries;
    const char* message;
};

const RejectedPayload kRejectedPayloads[] = {
    {"a name leading upward", {entry(u"app.dll", "MZ"), entry(u"..\\x", "x")},
     "payload.bin': entry stream: entry 2 '..\\x': a name may not have a '.' or '..' component"},
    {"a drive", {entry(u"app.dll", "MZ"), entry(u"C:\\x", "x")},
     "entry stream: entry 2 'C:\\x': the name holds a character that Windows does not allow in file names"},
    {"a device", {entry(u"app.dll", "MZ"), entry(u"CON", "x")},
     "entry stream: entry 2 'CON': the name is a reserved Windows device name"},
    {"no entries", {}, "entry stream: no entries; the end marker stands where the application DLL belongs"},
};

class ListAndExtract : public ::testing::TestWithParam<RejectedPayload> {};

TEST_P(ListAndExtract, RefuseWhatTheLauncherRejectsWithOneMessage) {
    testing::ScratchDirectory root;
    Bytes stream;
    for (const auto& part : GetParam().entries) stream.insert(stream.end(), part.begin(), part.end());
    stream.insert(stream.end(), {0, 0});
    testing::write_bytes(root / "payload.bin", testing::block_of(stream, true));
    const auto listed = testing::run_tool({"list", (root / "payload.bin").string()});
    const auto extracted = testing::run_tool({"extract", (root / "payload.bin").string(), "-o", (root / "x").string()});
    EXPECT_EQ(listed.exit_code, 1) << listed.out;
    EXPECT_NE(listed.err.find(GetParam().message), std::string::npos) << listed.err;
    EXPECT_EQ(extracted.err, listed.err);
    EXPECT_EQ(extracted.exit_code, 1);
    EXPECT_EQ(testing::snapshot(root.path()).size(), 1u) << "extract left something";
}

INSTANTIATE_TEST_SUITE_P(Rejected, ListAndExtract, ::testing::ValuesIn(kRejectedPayloads),
                         [](const ::testing::TestParamInfo<RejectedPayload>& param) {
                             return testing::case_name(param.param.label);
                         });

}  // namespace
}  // namespace kelvor
