// Building an executable: the checks that run before anything is packed or linked, so that a
// bad version, icon, template or input is a build error with a clear message and no output.
#include <gtest/gtest.h>

#include <cstdlib>

#include "path_template_rules.h"
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

// The tool run with its own temporary-files directory, to see that it leaves nothing there.
class BuildCommand : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(scratch_ / "tmp");
        setenv("TMPDIR", (scratch_ / "tmp").c_str(), 1);
        testing::write_file(scratch_ / "app.dll", "MZ not really");
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
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--version", "1.2.x"}, "the version '1.2.x' is not of the form"},
        {{"--product-version", "2.0.0.0.0"}, "the product version '2.0.0.0.0'"},
        {{"--template", "{TEMP}\\{OOPS}"}, "unknown variable {OOPS}"},
        {{"--template", "{TEMP}}"}, "'}' closes no '{'"},
        {{"--template", "{TEMP}"}, "must hold {RANDOM}, {TIME_US} or {TIME}"},
        {{"--template", "{TEMP}\\{COMPANY}", "--company", ".."}, "leads to another folder"},
        {{"--icon", (scratch_ / "icons").string()}, "icon"},
        {{"--icon", (scratch_ / "missing.ico").string()}, "missing.ico"},
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

TEST_F(BuildCommand, AMissingToolchainOrLauncherLibraryIsNamed) {
    const auto no_compiler = testing::run_tool(build_args({"--cc", "/nonexistent/gcc"}));
    EXPECT_EQ(no_compiler.exit_code, 1);
    EXPECT_NE(no_compiler.err.find("cross compiler '/nonexistent/gcc' cannot be found"), std::string::npos)
        << no_compiler.err;
    const auto no_library = testing::run_tool(build_args({"--launcher-dir", (scratch_ / "nothing").string()}));
    EXPECT_EQ(no_library.exit_code, 1);
    EXPECT_NE(no_library.err.find("the launcher library is not in"), std::string::npos) << no_library.err;
    EXPECT_TRUE(fs::is_empty(scratch_ / "out"));
    EXPECT_TRUE(fs::is_empty(scratch_ / "tmp"));
}

}  // namespace
}  // namespace kelvor
