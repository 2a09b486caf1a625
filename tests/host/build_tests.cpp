// Building an executable: the checks that run before anything is packed or linked, so that a
// bad version, icon, template or input is a build error with a clear message and no output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>

#include "icon_set.h"
#include "little_endian.h"
#include "path_template_rules.h"
#include "tool_error.h"
#include "toolchain.h"
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

TEST(ResourceScript, EscapesEveryCharacterOfTheStrings) {
    BuildStrings strings;
    strings.company = "Acm\xC3\xA9 \"Q\" \\";
    strings.description = "d";
    const std::string script = resource_script(strings, "/x/icon.ico", "/x/app \"m\".manifest");
    EXPECT_NE(script.find("VALUE \"CompanyName\", L\"\\x0041\\x0063\\x006d\\x00e9\\x0020\\x0022\\x0051\\x0022\\x0020\\x005c\""),
              std::string::npos)
        << script;
    EXPECT_NE(script.find("1 24 \"/x/app \\\"m\\\".manifest\""), std::string::npos) << script;
    EXPECT_NE(script.find("FILEVERSION 1,0,0,0"), std::string::npos);
    EXPECT_NE(script.find("VALUE \"Translation\", 0x0000, 0x04B0"), std::string::npos);
}

// The cross toolchain on PATH; why it is missing when it is not (tests that need it skip).
std::optional<std::string> find_installed_toolchain(Toolchain& toolchain) {
    try {
        toolchain = find_toolchain(std::nullopt, std::nullopt);
        return std::nullopt;
    } catch (const ToolError& missing) {
        return std::string(missing.what()) + " (scripts/setup installs it)";
    }
}

// The .res data of the version resource, as the resource compiler lays it out.
std::vector<unsigned char> compiled_version_resource(const Toolchain& toolchain, const fs::path& work,
                                                     const std::string& script) {
    testing::write_file(work / "version.rc", script);
    run_program("windres", {toolchain.resource_compiler, "-O", "res", "-i", (work / "version.rc").string(), "-o",
                            (work / "version.res").string()});
    const auto res = testing::read_bytes(work / "version.res");
    // Each resource: data size, header size, type (0xFFFF and a number for RT_VERSION), ...
    for (size_t at = 0; at + 12 <= res.size();) {
        const size_t data = read_le(&res[at], 4), header = read_le(&res[at + 4], 4);
        if (read_le(&res[at + 8], 2) == 0xFFFF && read_le(&res[at + 10], 2) == 16) {
            return std::vector<unsigned char>(res.begin() + at + header, res.begin() + at + header + data);
        }
        at = (at + header + data + 3) & ~size_t{3};
    }
    return {};
}

// The limit is the real one: at it, at the worst mix of odd and even lengths, the resource
// compiler's VS_VERSIONINFO just fits its 16-bit length; one unit more and it cannot.
TEST(VersionResourceLimit, IsWhereTheResourceStopsFittingItsLengths) {
    Toolchain toolchain;
    if (const auto missing = find_installed_toolchain(toolchain)) GTEST_SKIP() << *missing;
    testing::ScratchDirectory work;
    const auto ico = ico_file(read_icon_set(KELVOR_DEFAULT_ICONS_DIRECTORY));
    testing::write_file(work / "icon.ico", std::string(ico.begin(), ico.end()));
    testing::write_file(work / "app.manifest", "<assembly/>");
    BuildStrings strings;
    // Every length even but the company's: the most padding that an odd total can take.
    strings.product = "Pr";
    strings.version = strings.product_version = "10.0.0.0";
    strings.file_name = "Ap.exe";
    strings.internal_name = "Ap";
    strings.description = "Desc";
    strings.company = std::string(kVersionStringsLimit - 30, 'c');
    std::string script = resource_script(strings, work / "icon.ico", work / "app.manifest");

    const auto at_limit = compiled_version_resource(toolchain, work.path(), script);
    ASSERT_EQ(at_limit.size(), 0xFFFCu) << "the resource no longer just fits: the limit is not tight";
    EXPECT_EQ(read_le(at_limit.data(), 2), at_limit.size()) << "wLength of VS_VERSIONINFO";

    EXPECT_THROW(check_version_strings([&] { auto more = strings; more.company += 'c'; return more; }()), ToolError);
    script.insert(script.find("L\"\\x0063") + 2, "\\x0063");  // one more unit, past the check
    EXPECT_GT(compiled_version_resource(toolchain, work.path(), script).size(), 0xFFFFu);
}

// The tool run with its own temporary-files directory, to see that it leaves nothing there.
class BuildCommand : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(scratch_ / "tmp");
        setenv("TMPDIR", (scratch_ / "tmp").c_str(), 1);
        testing::write_file(scratch_ / "app.dll", testing::dll_image());
        fs::create_directory(scratch_ / "out");
    }
    void TearDown() override { unsetenv("TMPDIR"); }
    std::vector<std::string> build_args(std::vector<std::string> extra) const {
        std::vector<std::string> arguments = {"build", "--app", (scratch_ / "app.dll").string(), "-o",
                                              (scratch_ / "out" / "App.exe").string()};
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

// windres hands its preprocessor's command line to a shell; nothing of TMPDIR may reach it,
// whatever it holds. The resource compiler is the real one, the compiler a stand-in.
TEST_F(BuildCommand, NoTemporaryDirectoryReachesAShell) {
    Toolchain toolchain;
    if (const auto missing = find_installed_toolchain(toolchain)) GTEST_SKIP() << *missing;
    testing::write_launcher_library(scratch_ / "launcher");
    testing::write_file(scratch_ / "image.dll", testing::dll_image());
    testing::write_stand_in_compiler(scratch_ / "cc", scratch_ / "image.dll");
    const fs::path pwned = scratch_ / "PWNED";
    for (const char* name : {"$(touch $KELVOR_PWNED)", "`touch $KELVOR_PWNED`", "quote\" and 'single",
                             "semi;colon & space", "new\nline", "back\\slash"}) {
        const fs::path temporary = scratch_ / name;
        fs::create_directory(temporary);
        const auto built = testing::run_tool_under(
            {"/usr/bin/env", "TMPDIR=" + temporary.string(), "KELVOR_PWNED=" + pwned.string()},
            build_args({"--launcher-dir", (scratch_ / "launcher").string(), "--cc", (scratch_ / "cc").string(),
                        "--level", "1"}));
        EXPECT_EQ(built.exit_code, 0) << name << ": " << built.err;
        EXPECT_FALSE(fs::exists(pwned)) << name << ": a shell ran a command from TMPDIR";
        EXPECT_TRUE(fs::is_empty(temporary)) << name;
        std::error_code ignored;
        fs::remove(scratch_ / "out" / "App.exe", ignored);
        fs::remove(pwned, ignored);
    }
}

TEST_F(BuildCommand, AMissingToolchainOrLauncherLibraryIsNamed) {
    const auto no_compiler = testing::run_tool(build_args({"--cc", "/nonexistent/gcc"}));
    EXPECT_EQ(no_compiler.exit_code, 1);
    EXPECT_NE(no_compiler.err.find("cross compiler '/nonexistent/gcc' cannot be found"), std::string::npos)
        << no_compiler.err;
    const auto no_library = testing::run_tool(build_args({"--launcher-dir", (scratch_ / "nothing").string()}));
    EXPECT_EQ(no_library.exit_code, 1);
    EXPECT_NE(no_library.err.find("the launcher library is not in"), std::string::npos) << no_library.err;
    // Each processor level has its own library; another level's does not stand in for it.
    testing::write_launcher_library(scratch_ / "launcher");
    const auto other_level = testing::run_tool(
        build_args({"--launcher-dir", (scratch_ / "launcher").string(), "--cpu", "x86-64-v2"}));
    EXPECT_EQ(other_level.exit_code, 1);
    EXPECT_NE(other_level.err.find("/launcher/x86-64-v2' (libkelvor_launcher_core.a)"), std::string::npos)
        << other_level.err;
    const auto unknown_level = testing::run_tool(build_args({"--cpu", "zen5"}));
    EXPECT_EQ(unknown_level.exit_code, 2);
    EXPECT_NE(unknown_level.err.find("--cpu: 'zen5' is not a processor level (zen4, x86-64-v3, x86-64-v2, x86-64)"),
              std::string::npos)
        << unknown_level.err;
    EXPECT_TRUE(fs::is_empty(scratch_ / "out"));
    EXPECT_TRUE(fs::is_empty(scratch_ / "tmp"));
}

}  // namespace
}  // namespace kelvor
