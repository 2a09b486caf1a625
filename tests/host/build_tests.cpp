// Building an executable: the checks that run before anything is packed, so that a bad
// version, icon, template, input or prebuilt launcher is a build error with a clear message and
// no output; and the writers of the executable's resources and sections.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <tuple>
#include <sys/stat.h>

#include "application_manifest.h"
#include "icon_set.h"
#include "image_checksum.h"
#include "launcher_image.h"
#include "launcher_linking.h"
#include "little_endian.h"
#include "path_template_rules.h"
#include "payload/image_data_layout.h"
#include "process_running.h"
#include "resource_section.h"
#include "tool_error.h"
#include "tool_support.h"
#include "version_resource.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;

TEST(VersionNumbers, FourNumbersWithMissingOnesZero) {
    const std::pair<const char*, std::array<std::uint16_t, 4>> good[] = {
        {"1", {1, 0, 0, 0}}, {"1.2", {1, 2, 0, 0}}, {"1.2.3", {1, 2, 3, 0}}, {"1.2.3.4", {1, 2, 3, 4}},
        {"0.0.0.0", {0, 0, 0, 0}}, {"65535.65535.65535.65535", {65535, 65535, 65535, 65535}}, {"01.002", {1, 2, 0, 0}}};
    for (const auto& [text, numbers] : good) EXPECT_EQ(version_numbers("the version", text), numbers) << text;
    for (const char* bad : {"", "1.", ".1", "1..2", "1.2.3.4.5", "v1.2", "1.2-beta", "65536", "1.2.x", " 1", "1.2 ",
                            "100000"}) {
        EXPECT_THROW(version_numbers("the version", bad), ToolError) << bad;
    }
}

const FixedValues kFixed = {{"COMPANY", "Acme"}, {"PRODUCT", "Tool"}, {"VERSION", "1.2.0.0"},
                             {"FILE_VERSION", "1.2.0.0"}, {"PRODUCT_VERSION", "1.2"}};

// The message for a refused template, or "" when it is accepted.
std::string refusal(const std::string& path_template, const FixedValues& fixed = kFixed) {
    try {
        check_path_template(path_template, fixed);
        return "";
    } catch (const ToolError& error) {
        return error.what();
    }
}

TEST(PathTemplateRules, AcceptWhatTheLauncherExpandsAndRejectStrayBraces) {
    for (const char* good : {"{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}", "{temp}\\x_{random}",
                             "{CACHE_DIR}\\{COMPANY}\\{PRODUCT}\\run-{TIME}", "{HOME}\\.app\\{VERSION}\\{PID}_{TIME_US}",
                             "{PROGRAM_DIR}\\{PROGRAM_BASE}.run\\{RANDOM}", "{RANDOM}", "C:\\fixed\\path\\{RANDOM}",
                             "{TEMP}/x/{RANDOM}", "{TEMP}\\..x\\{RANDOM}", "{TEMP}\\{COMPANY}.._{RANDOM}"}) {
        EXPECT_EQ(refusal(good), "") << good;
    }
    const std::pair<const char*, const char*> bad[] = {
        {"{TEMP}\\{NOPE}", "unknown variable {NOPE}"}, {"{}", "'{}' names no variable"},
        {"{TEMP}\\x}", "'}' closes no '{'"},         {"{TEMP", "'{TEMP' is never closed"},
        {"{A{TEMP}", "'{A' is never closed"},        {"", "is empty"}};
    for (const auto& [text, message] : bad) EXPECT_NE(refusal(text).find(message), std::string::npos) << text;
}

// The clean-up removes the folder a template names with everything in it, so a template that
// can name a folder that outlives the run (one that already exists, or one reached through
// "..") is refused.
TEST(PathTemplateRules, RefuseFoldersThatOutliveTheRun) {
    const char* const per_run = "must hold {RANDOM}, {TIME_US} or {TIME}";
    const char* const elsewhere = "leads to another folder";
    const struct {
        const char* path_template;
        const char* company;
        const char* message;
    } cases[] = {
        {"{TEMP}", "Acme", per_run},
        {"{TEMP}\\..", "Acme", elsewhere},
        {"{HOME}", "Acme", per_run},
        {"{CACHE_DIR}", "Acme", per_run},
        {"{PROGRAM_DIR}", "Acme", per_run},
        {"C:\\", "Acme", per_run},
        {"C:\\fixed", "Acme", per_run},
        {"{TEMP}\\onefile_{PID}", "Acme", per_run},
        {"{TEMP}\\{COMPANY}", "..", elsewhere},
        {"{TEMP}\\{COMPANY}\\{RANDOM}", "..", elsewhere},
        {"{TEMP}\\{COMPANY}{RANDOM}", "..\\x", elsewhere},
        {"{TEMP}\\{RANDOM}_{COMPANY}", "x\\", per_run},
        {"{TEMP}\\..\\{RANDOM}", "Acme", elsewhere},
        {"{TEMP}/./{RANDOM}", "Acme", elsewhere},
        {"{TEMP}\\. .\\{RANDOM}", "Acme", elsewhere},
        {"{TEMP}\\{RANDOM}\\..", "Acme", elsewhere},
        {"{TEMP}\\x_{RANDOM}\\", "Acme", per_run},
        {"{TEMP}\\{RANDOM}{TEMP}", "Acme", "holds {TEMP}"},
        {"{TEMP}\\{RANDOM}_{program_base}", "Acme", "holds {program_base}"},
    };
    for (const auto& c : cases) {
        FixedValues fixed = kFixed;
        fixed["COMPANY"] = c.company;
        EXPECT_NE(refusal(c.path_template, fixed).find(c.message), std::string::npos)
            << c.path_template << " with company " << c.company << ": " << refusal(c.path_template, fixed);
    }
}

// Text that Windows cannot take as a path, or more than the launcher's target directory holds:
// the launcher could never create its folder.
TEST(PathTemplateRules, RefuseWhatWindowsCannotTakeAsAPath) {
    for (const char* good : {"D:\\x\\{RANDOM}", "\\\\server\\share\\{RANDOM}", "{TEMP}\\caf\xC3\xA9\\{RANDOM}",
                             "{TEMP}\\CONSOLE\\{RANDOM}", "{TEMP}\\con{PID}\\{RANDOM}", "{TEMP}\\x.y\\{RANDOM}"}) {
        EXPECT_EQ(refusal(good), "") << good;
    }
    // A template whose longest expansion has this many characters: C:, parts of at most 200
    // characters, then {RANDOM} (11).
    const auto with_text = [](size_t characters) {
        std::string text = "C:";
        for (size_t left = characters - 2 - 12; left > 0;) {
            const size_t part = left == 202 ? 200 : std::min<size_t>(left, 201);  // never leave a part of nothing
            text += "\\" + std::string(part - 1, 'x');
            left -= part;
        }
        return text + "\\{RANDOM}";
    };
    EXPECT_EQ(refusal(with_text(4096)), "") << "the target directory holds 4,096 characters";
    const char* const forbidden = "which Windows does not allow in paths";
    const char* const colon = "a ':' that is not a drive's";
    const struct {
        std::string path_template;
        std::string company;
        const char* message;
    } cases[] = {
        {"{TEMP}\\\"x\"\\{RANDOM}", "Acme", forbidden},
        {"{TEMP}\\x<y\\{RANDOM}", "Acme", forbidden},
        {"{TEMP}\\x>y\\{RANDOM}", "Acme", forbidden},
        {"{TEMP}\\x|y\\{RANDOM}", "Acme", forbidden},
        {"{TEMP}\\x?\\{RANDOM}", "Acme", forbidden},
        {"{TEMP}\\*\\{RANDOM}", "Acme", forbidden},
        {"{TEMP}\\a\nb\\{RANDOM}", "Acme", "the control character \\x0A"},
        {"{TEMP}\\a\tb\\{RANDOM}", "Acme", "the control character \\x09"},
        {"{TEMP}\\{COMPANY}\\{RANDOM}", "Acme \"Q\"", "the value of {COMPANY} holds '\"'"},
        {"{TEMP}:\\{RANDOM}", "Acme", colon},
        {"{TEMP}\\x:y\\{RANDOM}", "Acme", colon},
        {"1:\\x\\{RANDOM}", "Acme", colon},
        {"\\\\?\\C:\\x\\{RANDOM}", "Acme", "is in the \\\\?\\ form"},
        {"//?/C:/x/{RANDOM}", "Acme", "is in the \\\\?\\ form"},
        {with_text(4097), "Acme", "4097 characters long"},
        {"C:\\{COMPANY}\\{RANDOM}", std::string(5000, 'c'), "5015 characters long"},
    };
    for (const auto& c : cases) {
        FixedValues fixed = kFixed;
        fixed["COMPANY"] = c.company;
        EXPECT_NE(refusal(c.path_template, fixed).find(c.message), std::string::npos)
            << c.path_template.substr(0, 80) << ": " << refusal(c.path_template, fixed);
    }
}

using Bytes = std::vector<unsigned char>;

// The resource of (type, id, language) in a resource section mapped at address, read through
// the directory tree as the loader reads it; empty when it is not there.
Bytes find_resource(const Bytes& section, std::uint32_t address, std::uint16_t type, std::uint16_t id,
                    std::uint16_t language) {
    std::size_t directory = 0;
    for (const std::uint16_t wanted : {type, id, language}) {
        const std::size_t entries = read_le(&section[directory + 12], 2) + read_le(&section[directory + 14], 2);
        std::uint64_t target = 0, previous = 0;
        for (std::size_t i = 0; i < entries; ++i) {
            const std::size_t entry = directory + 16 + 8 * i;
            const auto entry_id = read_le(&section[entry], 4);
            EXPECT_TRUE(i == 0 || entry_id > previous) << "ids not ascending";
            previous = entry_id;
            if (entry_id == wanted) target = read_le(&section[entry + 4], 4) | 1ull << 63;
        }
        if (target == 0) return {};
        directory = static_cast<std::size_t>(target & 0x7FFFFFFF);
    }
    const auto data = read_le(&section[directory], 4) - address;
    EXPECT_EQ(data % 8, 0u) << "data not 8-byte aligned";
    return Bytes(section.begin() + static_cast<long>(data),
                 section.begin() + static_cast<long>(data + read_le(&section[directory + 4], 4)));
}

TEST(ResourceSection, FindsEveryResourceByTypeIdAndLanguage) {
    const std::vector<Resource> resources = {
        {24, 1, 0, {'m'}},           {3, 2, 0, {1, 2, 3}},        {3, 1, 0, {4, 5, 6, 7, 8}},
        {16, 1, 0x409, {9, 9, 9}},   {16, 1, 0, {10}},            {14, 7, 0, Bytes(1000, 11)},
    };
    const std::uint32_t address = 0x1C5000;
    const Bytes section = resource_section(resources, address);
    for (const auto& r : resources) {
        EXPECT_EQ(find_resource(section, address, r.type, r.id, r.language), r.data) << r.type << "/" << r.id;
    }
    EXPECT_TRUE(find_resource(section, address, 3, 3, 0).empty());
    EXPECT_THROW(resource_section({resources[0], resources[0]}, address), ToolError);
}

// The resource compiler's .res file: each resource's type, id, language and bytes.
std::map<std::tuple<int, int, int>, Bytes> compiled_resources(const fs::path& work, const std::string& script) {
    testing::write_file(work / "resources.rc", script);
    run_program("windres", {linking::kResourceCompiler, "-O", "res", "-i", (work / "resources.rc").string(), "-o",
                            (work / "resources.res").string()});
    const auto res = testing::read_bytes(work / "resources.res");
    std::map<std::tuple<int, int, int>, Bytes> resources;
    // Each: data size, header size, type and name (0xFFFF and a number), version, flags,
    // language; the first is an empty one.
    for (size_t at = 0; at + 32 <= res.size();) {
        const size_t data = read_le(&res[at], 4), header = read_le(&res[at + 4], 4);
        if (data > 0) {
            resources[{static_cast<int>(read_le(&res[at + 10], 2)), static_cast<int>(read_le(&res[at + 14], 2)),
                       static_cast<int>(read_le(&res[at + 22], 2))}] =
                Bytes(res.begin() + static_cast<long>(at + header), res.begin() + static_cast<long>(at + header + data));
        }
        at = (at + header + data + 3) & ~size_t{3};
    }
    return resources;
}

BuildStrings unusual_strings() {
    BuildStrings strings;
    strings.company = "Acm\xC3\xA9 \xF0\x9F\x98\x80 \"Q\" \\";  // an accent, a surrogate pair, quotes, a backslash
    strings.product = "P";
    strings.version = "1.2.3";
    strings.product_version = "65535.0.7.1";
    strings.file_name = "A.exe";
    strings.internal_name = "A";
    return strings;
}

// What the tool writes itself is what the resource compiler makes of the script that an
// executable linked by hand is built from: the same ids, language and bytes, whatever the
// strings and the files' names hold (the script escapes them).
TEST(LauncherResources, AreWhatTheResourceCompilerMakesOfTheScript) {
    if (!on_path(linking::kResourceCompiler)) GTEST_SKIP() << linking::kResourceCompiler << " is not installed";
    testing::ScratchDirectory work;
    const auto icons = read_icon_set(KELVOR_DEFAULT_ICONS_DIRECTORY);
    const auto ico = ico_file(icons);
    testing::write_file(work / "icon.ico", std::string(ico.begin(), ico.end()));
    const auto manifest = work / "app \"m\" \\.manifest";
    testing::write_file(manifest, kApplicationManifest);
    for (const BuildStrings& strings : {BuildStrings{}, unusual_strings()}) {
        const auto compiled = compiled_resources(work.path(), resource_script(strings, work / "icon.ico", manifest));
        std::map<std::tuple<int, int, int>, Bytes> written;
        for (const auto& r : launcher_resources(strings, icons)) written[{r.type, r.id, r.language}] = r.data;
        ASSERT_EQ(written.size(), compiled.size());
        for (const auto& [key, bytes] : compiled) {
            EXPECT_EQ(written[key], bytes) << std::get<0>(key) << "/" << std::get<1>(key) << " " << strings.company;
        }
    }
}

// The limit is the real one: at it, at the worst mix of odd and even lengths, VS_VERSIONINFO
// just fits its 16-bit length; one unit more and the strings are refused.
TEST(VersionResourceLimit, IsWhereTheResourceStopsFittingItsLengths) {
    BuildStrings strings;
    // Every length even but the company's: the most padding that an odd total can take.
    strings.product = "Pr";
    strings.version = strings.product_version = "10.0.0.0";
    strings.file_name = "Ap.exe";
    strings.internal_name = "Ap";
    strings.description = "Desc";
    strings.company = std::string(kVersionStringsLimit - 30, 'c');
    const auto at_limit = version_resource(strings);
    ASSERT_EQ(at_limit.size(), 0xFFFCu) << "the resource no longer just fits: the limit is not tight";
    EXPECT_EQ(read_le(at_limit.data(), 2), at_limit.size()) << "wLength of VS_VERSIONINFO";
    strings.company += 'c';
    EXPECT_THROW(version_resource(strings), ToolError);
}

TEST(ImageChecksum, SumsWordsWithEndAroundCarryPlusTheLength) {
    const struct {
        Bytes bytes;
        std::uint32_t expected;
    } cases[] = {
        {{}, 0},
        {{0x01, 0x02, 0x03}, 0x0201 + 0x0003 + 3},  // an odd last byte is a word of its own
        {{0xFF, 0xFF, 0x02, 0x00}, 0x0002 + 4},     // 0xFFFF + 2 carries round to 2
        {{0xFF, 0xFF, 0x01, 0x00, 0xFF, 0xFF}, 0x0001 + 6},
    };
    for (const auto& c : cases) {
        ImageChecksum whole;
        whole.add(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(whole.value(), c.expected) << c.bytes.size();
        // In pieces of one byte, and as two sums joined at an even offset: the same.
        ImageChecksum pieces, head, tail;
        for (const unsigned char byte : c.bytes) pieces.add(&byte, 1);
        EXPECT_EQ(pieces.value(), c.expected);
        const std::size_t half = c.bytes.size() / 2 & ~std::size_t{1};
        head.add(c.bytes.data(), half);
        tail.add(c.bytes.data() + half, c.bytes.size() - half);
        head.add(tail);
        EXPECT_EQ(head.value(), c.expected);
    }
}

// The launcher executable's headers agree with the sections appended to the launcher: the
// launcher's bytes unchanged but for its headers, the resources and the image data where the
// section table says, read-only and never executable, and the checksum over all of it.
TEST(LauncherImage, AppendsResourcesAndImageDataWithHeadersThatAgree) {
    testing::ScratchDirectory scratch;
    const std::string original = testing::launcher_image();
    testing::write_file(scratch / "launcher.exe", original);
    const LauncherImage launcher(scratch / "launcher.exe", Subsystem::gui);
    const Bytes resources = resource_section({{24, 1, 0, Bytes(700, 'm')}}, launcher.resource_section_address());
    const Bytes head(48, 'h');
    StreamedPayload payload;
    const Bytes block(5001, 'p');
    payload.checksum.add(block.data(), block.size());
    payload.size = block.size();
    payload.write = [&](const ByteSink& out) { out(block.data(), block.size()); };
    Bytes image;
    const auto size = launcher.write_executable(resources, head, payload, [&](const void* data, std::size_t count) {
        image.insert(image.end(), static_cast<const unsigned char*>(data), static_cast<const unsigned char*>(data) + count);
    });
    ASSERT_EQ(size, image.size());

    const std::size_t nt = read_le(&image[0x3C], 4), optional = nt + 24, table = optional + read_le(&image[nt + 20], 2);
    const std::size_t file_alignment = read_le(&image[optional + 36], 4), section_alignment = read_le(&image[optional + 32], 4);
    ASSERT_EQ(read_le(&image[nt + 6], 2), 3u);
    EXPECT_EQ(image.size() % file_alignment, 0u);
    const auto section = [&](int index, std::size_t field, std::size_t count) {
        return read_le(&image[table + 40 * index + field], count);
    };
    const auto section_bytes = [&](int index) {
        const auto at = section(index, 20, 4);
        return Bytes(image.begin() + static_cast<long>(at), image.begin() + static_cast<long>(at + section(index, 8, 4)));
    };
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image[table + 40]), 8), std::string(".rsrc\0\0\0", 8));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&image[table + 80]), 8),
              std::string(image_data_layout::section_name, 8));
    EXPECT_EQ(section_bytes(1), resources);
    Bytes data = head;
    data.insert(data.end(), block.begin(), block.end());
    EXPECT_EQ(section_bytes(2), data);
    for (int index : {1, 2}) {
        EXPECT_EQ(section(index, 36, 4), 0x40000040u) << "initialized, read-only, never executable";
        EXPECT_EQ(section(index, 12, 4) % section_alignment, 0u);
        EXPECT_GE(section(index, 12, 4), section(index - 1, 12, 4) + section(index - 1, 8, 4));
        EXPECT_EQ(section(index, 20, 4) % file_alignment, 0u);
        EXPECT_EQ(section(index, 16, 4), (section(index, 8, 4) + file_alignment - 1) / file_alignment * file_alignment);
    }
    EXPECT_EQ(read_le(&image[optional + 56], 4),
              (section(2, 12, 4) + data.size() + section_alignment - 1) / section_alignment * section_alignment);
    EXPECT_EQ(read_le(&image[optional + 8], 4), section(1, 16, 4) + section(2, 16, 4)) << "SizeOfInitializedData";
    EXPECT_EQ(read_le(&image[optional + 112 + 16], 4), section(1, 12, 4));
    EXPECT_EQ(read_le(&image[optional + 112 + 20], 4), resources.size());

    Bytes zeroed = image;
    std::fill_n(zeroed.begin() + static_cast<long>(optional + 64), 4, 0);
    ImageChecksum checksum;
    checksum.add(zeroed.data(), zeroed.size());
    EXPECT_EQ(read_le(&image[optional + 64], 4), checksum.value());
    // The launcher's own bytes, but for the headers that describe the new sections.
    const std::size_t headers_end = table + 40 * 3;
    EXPECT_TRUE(std::equal(original.begin() + static_cast<long>(headers_end), original.end(),
                           image.begin() + static_cast<long>(headers_end)));
}

// The tool run with its own temporary-files directory, to see that it leaves nothing there.
class BuildCommand : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(scratch_ / "tmp");
        setenv("TMPDIR", (scratch_ / "tmp").c_str(), 1);
        testing::write_file(scratch_ / "app.dll", testing::dll_image());
        testing::write_prebuilt_launchers(scratch_ / "launcher");
        fs::create_directory(scratch_ / "out");
    }
    void TearDown() override { unsetenv("TMPDIR"); }
    std::vector<std::string> build_args(std::vector<std::string> extra) const {
        std::vector<std::string> arguments = {"build", "--app", (scratch_ / "app.dll").string(), "-o",
                                              (scratch_ / "out" / "App.exe").string(), "--launcher-dir",
                                              (scratch_ / "launcher").string()};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }
    testing::ScratchDirectory scratch_;
};

TEST_F(BuildCommand, BadInputsAreBuildErrorsThatLeaveNothingBehind) {
    testing::write_file(scratch_ / "icons" / "icon-16.png", "not a png");
    ASSERT_EQ(mkfifo((scratch_ / "icon.ico").c_str(), 0600), 0);
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--version", "1.2.x"}, "the version '1.2.x' is not of the form"},
        {{"--product-version", "2.0.0.0.0"}, "the product version '2.0.0.0.0'"},
        {{"--template", "{TEMP}\\{OOPS}"}, "unknown variable {OOPS}"},
        {{"--template", "{TEMP}}"}, "'}' closes no '{'"},
        {{"--template", "{TEMP}"}, "must hold {RANDOM}, {TIME_US} or {TIME}"},
        {{"--template", "{TEMP}\\{COMPANY}", "--company", ".."}, "leads to another folder"},
        {{"--template", "{TEMP}\\a\nb_{RANDOM}"}, "control character \\x0A"},
        {{"--company", std::string(40000, 'c')}, "at most 32521"},
        {{"--icon", (scratch_ / "icons").string()}, "icon"},
        {{"--icon", (scratch_ / "missing.ico").string()}, "missing.ico"},
        {{"--icon", (scratch_ / "icon.ico").string()}, "icon.ico' is not a regular file"},
        {{"--icon", "/dev/zero"}, "'/dev/zero' is not a regular file"},
        {{"-o", (scratch_ / "app.dll").string()}, "is the file given with --app"},
        {{"-o", (scratch_ / "launcher" / linking::kDefaultCpu / linking::kPrebuiltGuiLauncher).string()},
         "which is read for --launcher-dir"},
        {{"--app", (scratch_ / "gone.dll").string()}, "does not exist"},
    };
    for (const auto& [extra, message] : cases) {
        const auto run = testing::run_tool(build_args(extra));
        EXPECT_EQ(run.exit_code, 1) << message;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_TRUE(fs::is_empty(scratch_ / "out")) << message;
        EXPECT_TRUE(fs::is_empty(scratch_ / "tmp")) << message;
    }
}

// No compiler, resource compiler, linker or shell takes part: an empty PATH builds, and no
// temporary directory's name is ever handed to a program, whatever it holds.
TEST_F(BuildCommand, NeedsNoProgramAndNoShell) {
    fs::create_directory(scratch_ / "no-programs");
    for (const char* name : {"$(touch PWNED)", "quote\" and 'single", "new\nline", "back\\slash"}) {
        const fs::path temporary = scratch_ / name;
        fs::create_directory(temporary);
        const auto built = testing::run_tool_under(
            {"/usr/bin/env", "TMPDIR=" + temporary.string(), "PATH=" + (scratch_ / "no-programs").string()},
            build_args({"--level", "1"}));
        EXPECT_EQ(built.exit_code, 0) << name << ": " << built.err;
        EXPECT_TRUE(fs::is_empty(temporary)) << name;
        const auto image = testing::read_bytes(scratch_ / "out" / "App.exe");
        ASSERT_GT(image.size(), 2u);
        EXPECT_EQ(image[0], 'M');
        fs::remove(scratch_ / "out" / "App.exe");
    }
}

// Each prebuilt launcher is checked before anything is packed: one that is missing, damaged,
// of another version or not what build would write into is a build error naming it.
TEST_F(BuildCommand, APrebuiltLauncherThatCannotBeUsedIsNamed) {
    const fs::path gui = scratch_ / "launcher" / linking::kDefaultCpu / linking::kPrebuiltGuiLauncher;
    const auto with_byte = [](std::string image, std::size_t at, char value) {
        image[at] = value;
        return image;
    };
    const std::string launcher = testing::launcher_image();
    const std::size_t optional = 0x40 + 24;
    const struct {
        const char* label;
        std::optional<std::string> image;  // none: no file
        std::vector<std::string> extra;
        std::string message;
    } cases[] = {
        {"missing", std::nullopt, {}, "the prebuilt launcher is not in '" + gui.parent_path().string() +
                                          "' (kelvor-launcher-gui.exe); name its directory with --launcher-dir"},
        {"another level's only", launcher, {"--cpu", "x86-64-v2"}, "/launcher/x86-64-v2' (kelvor-launcher-gui.exe)"},
        {"cut short", launcher.substr(0, 200), {}, "is not a prebuilt launcher: its headers are cut short"},
        {"not an executable", "just text, and long enough to be taken for one: ......................................",
         {}, "is not a prebuilt launcher: it is not a Windows executable"},
        {"a DLL", testing::dll_image(), {}, "is not a prebuilt launcher: it is not a PE32+ executable for x86-64"},
        {"of another version", testing::launcher_image(false, "0.0.9"), {},
         "is a launcher of kelvor-onefile 0.0.9; this tool is " KELVOR_ONEFILE_VERSION},
        {"without identity", with_byte(launcher, launcher.find("kelvor-onefile launcher"), 'K'), {},
         "it carries no kelvor-onefile launcher identity"},
        {"a console program for a GUI one", testing::launcher_image(true), {}, "it is not a GUI program"},
        {"signed", with_byte(launcher, optional + 112 + 8 * 4, 1), {}, "it is signed"},
        {"with resources", with_byte(launcher, optional + 112 + 8 * 2, 1), {}, "it has resources already"},
    };
    for (const auto& c : cases) {
        std::error_code ignored;
        fs::remove(gui, ignored);
        if (c.image) testing::write_file(gui, *c.image);
        const auto run = testing::run_tool(build_args(c.extra));
        EXPECT_EQ(run.exit_code, 1) << c.label;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.label << ": " << run.err;
        EXPECT_TRUE(fs::is_empty(scratch_ / "out")) << c.label;
        EXPECT_TRUE(fs::is_empty(scratch_ / "tmp")) << c.label;
    }
    const auto unknown_level = testing::run_tool(build_args({"--cpu", "zen5"}));
    EXPECT_EQ(unknown_level.exit_code, 2);
    EXPECT_NE(unknown_level.err.find("--cpu: 'zen5' is not a processor level (zen4, x86-64-v3, x86-64-v2, x86-64)"),
              std::string::npos)
        << unknown_level.err;
}

}  // namespace
}  // namespace kelvor
