// What a user sees when the launcher core fails: every message byte for byte on its channel,
// and the exit code. Each case runs in a child process (launcher_scenarios). The standard streams
// are in the runtime's text mode, so each line feed reaches the file as CR LF.
#include <gtest/gtest.h>

#include "launcher_runs.h"
#include "payload_builder.h"
#include "test_arguments.h"
#include "windows_test_support.h"

namespace kelvor::testing {
namespace {

ProcessResult run_scenario(const std::vector<std::wstring>& arguments) {
    const std::wstring& harness = test_arguments().at(0);
    ProcessOptions options;
    options.application = harness;
    options.command_line = quote_argument(harness);
    for (const auto& argument : arguments) options.command_line += L" " + quote_argument(argument);
    options.timeout_ms = 20000;
    ProcessResult result = run_process(options);
    EXPECT_FALSE(result.timed_out) << "the scenario did not end";
    return result;
}

struct Expected {
    DWORD exit_code;
    std::string out;
    std::string err;
};

void expect_run(const std::vector<std::wstring>& arguments, const Expected& expected) {
    const ProcessResult run = run_scenario(arguments);
    EXPECT_EQ(run.exit_code, expected.exit_code);
    EXPECT_EQ(run.out, expected.out);
    EXPECT_EQ(run.err, expected.err);
}

TEST(PlainMessages, GoToStandardOutputWithExitCode2) {
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"register-handler", "Error, failed to register signal handler.\r\n"},
        {L"no-header", "Error, couldn't find attached data header.\r\n"},
        {L"no-memory", "Error, couldn't allocate memory.\r\n"},
        {L"decode", "Error, couldn't decode attached data.\r\n"},
        {L"no-entry-point", "Error, DLL entry point not found.\r\n"},
    };
    for (const auto& [name, text] : cases) expect_run({L"message", name}, {2, text, ""});
}

TEST(FormattedMessages, GoToStandardErrorWithThePath) {
    expect_run({L"path-message", L"C:\\Temp\\onefile_1_000001_x\\data\\file.bin"},
               {2, "", "Error, failed to open 'C:\\Temp\\onefile_1_000001_x\\data\\file.bin' for writing.\r\n"});
}

TEST(FormattedMessages, TemplateMessageIsOutBeforeTheAbort) {
    expect_run({L"template", L"{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}"},
               {3, "", "Error, couldn't runtime expand spec '{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}'.\r\n"});
}

TEST(ErrorCodeMessages, CarryTheCodeAndTheSystemTextOnOneLine) {
    const std::string text = system_text(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(text.empty());
    expect_run({L"error-code", L"load", L"5"}, {2, "", "Error, load DLL. ([Error 5] " + text + ")\r\n"});
    expect_run({L"error-code", L"unpack", L"112"},
               {2, "", "Error, couldn't unpack file to target path. ([Error 112] " + system_text(112) + ")\r\n"});
    expect_run({L"error-code", L"launch", L"2"},
               {2, "", "Error, couldn't launch child ([Error 2] " + system_text(2) + ")\r\n"});
}

TEST(ErrorCodeMessages, HighBitCodesPrintNegativeAndMissingTextStaysEmpty) {
    const ProcessResult run = run_scenario({L"error-code", L"load", L"0xC0000135"});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_EQ(run.err.rfind("Error, load DLL. ([Error -1073741515] ", 0), 0u) << run.err;
    // A code the system has no text for still gives the whole line.
    expect_run({L"error-code", L"load", L"0x2000ABCD"}, {2, "", "Error, load DLL. ([Error 536914893] )\r\n"});
}

TEST(ErrorCodeMessages, NoLineBreakInsideTheParentheses) {
    for (const DWORD code : {2u, 5u, 87u, 112u, 193u}) {
        const ProcessResult run = run_scenario({L"error-code", L"load", std::to_wstring(code)});
        // The only line end is the one after the closing parenthesis.
        EXPECT_EQ(run.err.find('\r'), run.err.size() - 2) << code;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << code;
    }
}

TEST(Abort, EndsAtOnceWithTheAbnormalEndStatusAndNoOutput) {
    expect_run({L"abort"}, {3, "", ""});
}

// Block files for the payload cases, in a scratch directory of the test's own.
class PayloadEnding : public ::testing::Test {
protected:
    std::wstring block_file(const std::string& block) {
        const std::wstring path = scratch_ / (L"block" + std::to_wstring(++count_));
        write_file(path, block);
        return path;
    }
    ScratchDirectory scratch_;
    int count_ = 0;
};

TEST_F(PayloadEnding, HeaderMustBeKAYExactly) {
    const std::string frame = raw_frame(entry_bytes(L"a", "x") + end_marker_bytes());
    expect_run({L"header", block_file(payload_block(frame))}, {0, "header ok\r\n", ""});
    for (const std::string header : {"KAZ", "kay", "KA", "", "YAK"}) {
        std::string block = payload_block(frame);
        block.replace(0, 3, header);
        expect_run({L"header", block_file(block)}, {2, "Error, couldn't find attached data header.\r\n", ""});
    }
}

TEST_F(PayloadEnding, RequestAfterTheEndMarkerReachesTheZeroTail) {
    const std::string stream = entry_bytes(L"app.dll", "MZ") + end_marker_bytes();
    expect_run({L"read-entries", block_file(payload_block(raw_frame(stream))), L"past-end"},
               {2, "entry app.dll 2\r\nend\r\nError, couldn't decode attached data.\r\n", ""});
}

TEST_F(PayloadEnding, DamageEndsTheRunWhereTheDecoderMeetsIt) {
    // One frame per entry; the third frame's block type is the reserved one.
    std::string third = raw_frame(entry_bytes(L"c", std::string(500, 'c')));
    third[4 + 1 + 8] = static_cast<char>(third[4 + 1 + 8] | 0x06);
    const std::string frames = raw_frame(entry_bytes(L"a", "aa")) + raw_frame(entry_bytes(L"b", "bbb")) + third +
                               raw_frame(end_marker_bytes());
    expect_run({L"read-entries", block_file(payload_block(frames))},
               {2, "entry a 2\r\nentry b 3\r\nError, couldn't decode attached data.\r\n", ""});
}

TEST_F(PayloadEnding, ForeignDataIsADecodeError) {
    expect_run({L"read-entries", block_file("KAY" + std::string(64, 'z'))},
               {2, "Error, couldn't decode attached data.\r\n", ""});
}

TEST_F(PayloadEnding, InputUsedUpWithTheRequestOpenEndsInsteadOfLooping) {
    // A frame cut short with nothing after it: the decoder waits for more input that never comes.
    std::string frame = raw_frame(entry_bytes(L"app.dll", std::string(5000, 'd')) + end_marker_bytes());
    frame.resize(frame.size() - 1000);
    expect_run({L"read-entries", block_file("KAY" + frame)}, {2, "Error, couldn't decode attached data.\r\n", ""});
}

}  // namespace
}  // namespace kelvor::testing
