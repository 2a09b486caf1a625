// Signing a built executable with osslsigncode: the signature verifies and covers the payload,
// the payload is still found behind it, the same inputs give the same bytes when the signing
// time is fixed, and a failure or an interruption while signing leaves nothing behind.
// osslsigncode's own words differ from release to release (Debian 12 has 2.5, its backports
// 2.9): the tests check what the tool does with them, never the words.
//
// The cross toolchain is replaced by a stand-in whose "linked" executable is a small DLL image
// with the payload block after it: osslsigncode signs it as it signs any image, and the host
// tests need no launcher library.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <pty.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "little_endian.h"
#include "payload_block_reader.h"
#include "tool_support.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using testing::run_tool_under;
using testing::write_file;

// Runs a shell command whose paths lie in the scratch folder; true when it exits with 0.
bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// A timestamp server on 127.0.0.1 that takes connections and never answers.
class SilentServer {
public:
    SilentServer() {
        listening_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listening_ < 0 || bind(listening_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listening_, 1) != 0 || getsockname(listening_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        url_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
    ~SilentServer() {
        if (connection_ >= 0) close(connection_);
        close(listening_);
    }
    const std::string& url() const { return url_; }
    // Whether a client connected within the time.
    bool accept_within(int milliseconds) {
        pollfd waiting{listening_, POLLIN, 0};
        if (poll(&waiting, 1, milliseconds) != 1) return false;
        connection_ = accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
        return connection_ >= 0;
    }
    // Whether the client has closed its side: it has ended. What it sent is read and dropped.
    bool client_closed() const {
        char buffer[4096];
        pollfd reading{connection_, POLLIN, 0};
        ssize_t count = 1;
        while (count > 0 && poll(&reading, 1, 10000) == 1) count = read(connection_, buffer, sizeof buffer);
        return count == 0;
    }

private:
    int listening_ = -1;
    int connection_ = -1;
    std::string url_;
};

class Signing : public ::testing::Test {
protected:
    void SetUp() override {
        if (!shell("command -v osslsigncode >/dev/null && command -v openssl >/dev/null")) {
            GTEST_SKIP() << "osslsigncode or openssl is missing (scripts/setup installs them)";
        }
        for (const char* directory : {"tmp", "out", "launcher", "no-programs"}) fs::create_directory(scratch_ / directory);
        testing::write_prebuilt_launchers(scratch_ / "launcher");
        write_file(scratch_ / "app.dll", testing::dll_image());
        // The passphrase goes to openssl from a file, as it goes to the tool.
        write_file(scratch_ / "pass.txt", "correct horse\n");
        write_file(scratch_ / "wrong.txt", "wrong horse\n");
        const std::string s = scratch_.path().string();
        ASSERT_TRUE(shell("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + s + "/key.pem -out " + s +
                          "/cert.pem -days 3650 -subj /CN=Kelvor-Test -batch 2>/dev/null &&"
                          " openssl pkey -in " + s + "/key.pem -aes256 -passout file:" + s + "/pass.txt -out " + s +
                          "/encrypted.pem && openssl genpkey -algorithm RSA -out " + s + "/other.pem 2>/dev/null"));
    }

    std::vector<std::string> build_args(const std::string& name, std::vector<std::string> extra) const {
        std::vector<std::string> arguments = {"build", "--app", (scratch_ / "app.dll").string(), "-o",
                                              (scratch_ / "out" / name).string(), "--launcher-dir",
                                              (scratch_ / "launcher").string(), "--level", "1"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }
    std::vector<std::string> signed_with(const std::string& key, std::vector<std::string> extra = {}) const {
        extra.insert(extra.begin(), {"--sign-key", (scratch_ / key).string(), "--sign-cert", (scratch_ / "cert.pem").string()});
        return extra;
    }
    // The tool with TMPDIR in the scratch folder, to see that it leaves nothing there.
    testing::ToolRun run(const std::vector<std::string>& arguments, std::vector<std::string> environment = {}) const {
        environment.insert(environment.begin(), {"/usr/bin/env", "TMPDIR=" + (scratch_ / "tmp").string()});
        return run_tool_under(environment, arguments);
    }
    bool verifies(const fs::path& executable) const {
        return shell("osslsigncode verify -CAfile " + (scratch_ / "cert.pem").string() + " -in " + executable.string() +
                     " >" + (scratch_ / "verify.log").string() + " 2>&1");
    }
    bool left_nothing() const { return fs::is_empty(scratch_ / "out") && fs::is_empty(scratch_ / "tmp"); }

    testing::ScratchDirectory scratch_;
};

TEST_F(Signing, SignatureVerifiesCoversThePayloadAndLeavesItListable) {
    const auto built = run(build_args("App.exe", signed_with("key.pem")));
    ASSERT_EQ(built.exit_code, 0) << built.err;
    const fs::path executable = scratch_ / "out" / "App.exe";
    EXPECT_TRUE(verifies(executable)) << testing::read_file(scratch_ / "verify.log");
    // The certificate table follows the payload, at the end of the file.
    const auto listed = testing::run_tool({"list", executable.string()});
    EXPECT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_NE(listed.out.find(" app.dll\n"), std::string::npos) << listed.out;

    auto bytes = testing::read_bytes(executable);
    const BlockSpan block = find_payload_block(bytes.data(), bytes.size());
    const std::size_t optional = read_le(&bytes[0x3C], 4) + 24;
    EXPECT_GE(read_le(&bytes[optional + 112 + 8 * 4], 4), block.offset + block.size) << "the certificate table";
    bytes[block.offset + block.size / 2] ^= 0x01;
    write_file(scratch_ / "changed.exe", std::string(bytes.begin(), bytes.end()));
    EXPECT_FALSE(verifies(scratch_ / "changed.exe")) << "one changed payload byte must break the signature";
}

// osslsigncode records the signing time; with SOURCE_DATE_EPOCH fixed, and an RSA key (whose
// signatures have no random part), the same inputs give the same bytes, and another time gives
// others: the time recorded is SOURCE_DATE_EPOCH's.
TEST_F(Signing, FixedSigningTimeGivesTheSameBytesWithAnEncryptedKey) {
    const auto encrypted = signed_with("encrypted.pem", {"--sign-pass-file", (scratch_ / "pass.txt").string()});
    // One name for all three: the name is in the version resource.
    const std::pair<const char*, const char*> builds[] = {
        {"one/App.exe", "1700000000"}, {"two/App.exe", "1700000000"}, {"later/App.exe", "1700000001"}};
    for (const auto& [name, epoch] : builds) {
        fs::create_directory((scratch_ / "out" / name).parent_path());
        const auto built = run(build_args(name, encrypted), {std::string("SOURCE_DATE_EPOCH=") + epoch});
        ASSERT_EQ(built.exit_code, 0) << built.err;
    }
    const auto bytes = [&](const char* name) { return testing::read_bytes(scratch_ / "out" / name / "App.exe"); };
    EXPECT_TRUE(verifies(scratch_ / "out" / "one" / "App.exe")) << testing::read_file(scratch_ / "verify.log");
    EXPECT_EQ(bytes("one"), bytes("two"));
    EXPECT_NE(bytes("one"), bytes("later"));
}

// What the tool makes of a failing osslsigncode's output: its status and its own explanation,
// on one line, without the prompts it could not answer, the OpenSSL error queue or its verdict
// "Failed". Empty when the message is not that of a failing signer.
std::string signer_explanation(const std::string& message) {
    const std::string failed = "kelvor-onefile: error: signing failed: osslsigncode exited with ";
    if (message.rfind(failed, 0) != 0) return "";
    const size_t reason = message.find(": ", failed.size());
    if (reason == std::string::npos) return "";
    return message.substr(reason + 2, message.size() - 1 - (reason + 2));
}

TEST_F(Signing, FailuresNameTheCauseAndLeaveNothing) {
    // The failures that osslsigncode finds are told in its words (see signer_explanation); the
    // others in the tool's.
    const char* const kSigner = nullptr;
    const struct {
        const char* label;
        std::vector<std::string> options;
        std::vector<std::string> environment;
        const char* message;
    } cases[] = {
        {"wrong passphrase", signed_with("encrypted.pem", {"--sign-pass-file", (scratch_ / "wrong.txt").string()}), {},
         kSigner},
        // Without a passphrase osslsigncode would ask the terminal; apart from it, it fails.
        {"no passphrase", signed_with("encrypted.pem"), {}, kSigner},
        {"key of another certificate", signed_with("other.pem"), {}, kSigner},
        {"unreachable timestamp server", signed_with("key.pem", {"--sign-timestamp", "http://127.0.0.1:1"}), {},
         kSigner},
        {"no osslsigncode", signed_with("key.pem"), {"PATH=" + (scratch_ / "no-programs").string()},
         "signing needs osslsigncode, which is not on PATH"},
        {"bad SOURCE_DATE_EPOCH", signed_with("key.pem"), {"SOURCE_DATE_EPOCH=soon"},
         "SOURCE_DATE_EPOCH 'soon' is not a number of seconds"},
        {"missing key", signed_with("none.pem"), {}, "none.pem': No such file"},
        {"output over the key", signed_with("key.pem", {"-o", (scratch_ / "key.pem").string()}), {},
         "is the file given with --sign-key"},
        {"output over a hard link of the pass file",
         signed_with("encrypted.pem", {"--sign-pass-file", (scratch_ / "pass.txt").string(), "-o",
                                       (scratch_ / "out" / "pass-link.exe").string()}),
         {}, "is the file given with --sign-pass-file"},
        // osslsigncode would drop both line ends and unlock the key whose passphrase is
        // "correct horse".
        {"pass file with two line ends",
         signed_with("encrypted.pem", {"--sign-pass-file", (scratch_ / "two-line-ends.txt").string()}), {},
         "the passphrase ends in a line end after the one that ends the file"},
    };
    write_file(scratch_ / "two-line-ends.txt", "correct horse\n\n");
    for (const auto& c : cases) {
        std::error_code ignored;
        fs::create_hard_link(scratch_ / "pass.txt", scratch_ / "out" / "pass-link.exe", ignored);
        const auto failed = run(build_args("App.exe", c.options), c.environment);
        fs::remove(scratch_ / "out" / "pass-link.exe", ignored);
        EXPECT_EQ(failed.exit_code, 1) << c.label;
        if (c.message == kSigner) {
            const std::string why = signer_explanation(failed.err);
            EXPECT_FALSE(why.empty()) << c.label << ": " << failed.err;
            for (const char* noise : {"Enter PEM pass phrase", ":error:"}) {
                EXPECT_EQ(why.find(noise), std::string::npos) << c.label << ": " << failed.err;
            }
            EXPECT_EQ(("; " + why + "; ").find("; Failed; "), std::string::npos) << c.label << ": " << failed.err;
        } else {
            EXPECT_NE(failed.err.find(c.message), std::string::npos) << c.label << ": " << failed.err;
        }
        EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;
        EXPECT_TRUE(left_nothing()) << c.label;
    }
}

// The pass file is the passphrase less one line end at its end, as an editor leaves it.
TEST_F(Signing, PassFileLosesOneLineEndAtMost) {
    for (const char* passphrase : {"correct horse", "correct horse\n", "correct horse\r\n"}) {
        write_file(scratch_ / "given.txt", passphrase);
        const auto built = run(build_args("App.exe", signed_with("encrypted.pem", {"--sign-pass-file",
                                                                                  (scratch_ / "given.txt").string()})));
        EXPECT_EQ(built.exit_code, 0) << ::testing::PrintToString(std::string(passphrase)) << ": " << built.err;
    }
}

// A timestamp server that takes the connection and never answers: the build gives up after
// --sign-timeout, ends the signer and leaves nothing.
TEST_F(Signing, GivesUpOnATimestampServerThatNeverAnswers) {
    SilentServer server;
    const auto started = std::chrono::steady_clock::now();
    const auto failed = run(build_args("App.exe", signed_with("key.pem", {"--sign-timestamp", server.url(),
                                                                          "--sign-timeout", "2"})));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_NE(failed.err.find("signing failed: osslsigncode did not finish within 2 seconds (--sign-timeout); the "
                              "timestamp server '" + server.url() + "' did not answer in time"),
              std::string::npos)
        << failed.err;
    EXPECT_LT(waited, std::chrono::seconds(30));
    EXPECT_TRUE(left_nothing());
    ASSERT_TRUE(server.accept_within(0)) << "osslsigncode never asked the timestamp server";
    EXPECT_TRUE(server.client_closed()) << "osslsigncode still holds the connection";
}

// Run from a terminal with an encrypted key and no passphrase, osslsigncode would ask for it
// on /dev/tty and wait there for ever; run apart from the terminal, it fails at once.
TEST_F(Signing, NeverWaitsForAPassphraseAtTheTerminal) {
    auto arguments = build_args("App.exe", signed_with("encrypted.pem"));
    arguments.insert(arguments.begin(), KELVOR_ONEFILE_TOOL_PATH);
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t tool = forkpty(&terminal, nullptr, nullptr, nullptr);  // the tool's controlling terminal
    ASSERT_GE(tool, 0);
    if (tool == 0) {
        setenv("TMPDIR", (scratch_ / "tmp").c_str(), 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string shown;
    char buffer[4096];
    pollfd reading{terminal, POLLIN, 0};
    for (ssize_t count = 1; count > 0 && poll(&reading, 1, 30000) == 1;) {
        count = read(terminal, buffer, sizeof buffer);  // EIO once the tool has ended
        if (count > 0) shown.append(buffer, static_cast<size_t>(count));
    }
    int status = 0;
    bool ended = false;
    for (int waited_ms = 0; !(ended = waitpid(tool, &status, WNOHANG) == tool) && waited_ms < 10000; waited_ms += 10) {
        usleep(10000);
    }
    if (!ended) {
        kill(tool, SIGKILL);
        waitpid(tool, &status, 0);
        FAIL() << "the build waited at the terminal: " << shown;
    }
    close(terminal);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << shown;
    EXPECT_NE(shown.find("signing failed"), std::string::npos) << shown;
    EXPECT_TRUE(left_nothing());
}

// A timestamp server that takes the connection and never answers holds osslsigncode at work:
// the interruption comes while it signs.
TEST_F(Signing, InterruptedWhileSigningLeavesNothingAndEndsTheSigner) {
    SilentServer server;
    const pid_t tool = testing::start_tool(
        build_args("App.exe", signed_with("key.pem", {"--sign-timestamp", server.url()})), scratch_ / "tmp");
    ASSERT_GT(tool, 0);
    const bool connected = server.accept_within(30000);
    kill(tool, connected ? SIGTERM : SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(tool, &status, 0), tool);
    ASSERT_TRUE(connected) << "osslsigncode never asked the timestamp server";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
    EXPECT_TRUE(left_nothing());
    EXPECT_TRUE(server.client_closed()) << "osslsigncode still holds the connection";
}

}  // namespace
}  // namespace kelvor
