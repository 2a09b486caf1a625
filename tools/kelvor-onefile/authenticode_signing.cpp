#include "authenticode_signing.h"

#include <cstdlib>
#include <sstream>

#include "file_contents.h"
#include "tool_error.h"
#include "process_running.h"
#include "utf8_paths.h"

namespace kelvor {

namespace {

const char kSigner[] = "osslsigncode";
#ifdef _WIN32
// signtool.exe, Microsoft's signer, takes a key only from a PFX file or a certificate store,
// never as a key file and a certificate file apart.
const char kSignerShown[] = "osslsigncode.exe, found on PATH";
const char kMissingSigner[] =
    "signing needs osslsigncode.exe on PATH, which is not there; signtool.exe cannot sign with a separate key and "
    "certificate (--sign-key, --sign-cert)";
#else
const char kSignerShown[] = "osslsigncode";
const char kMissingSigner[] =
    "signing needs osslsigncode, which is not on PATH; install Debian's osslsigncode package (scripts/setup does)";
#endif
// Far more than any passphrase.
constexpr std::uint64_t kLargestPassphraseFile = 64 * 1024;

// The moment the signature records (its signing-time attribute). osslsigncode takes the
// current time otherwise, so a signed executable would differ from build to build.
std::optional<std::string> signing_time() {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch == nullptr) return std::nullopt;
    const std::string text = epoch;
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos) {
        throw ToolError("SOURCE_DATE_EPOCH '" + text + "' is not a number of seconds since 1970");
    }
    return text;
}

// osslsigncode's own lines, less the OpenSSL error queue it prints after them
// ("40F0...:error:..."), the prompts it cannot answer and its final verdict.
std::string explanation(const std::string& output) {
    std::istringstream lines(output);
    const std::string prompt = "Enter PEM pass phrase:";
    std::string line, joined;
    while (std::getline(lines, line)) {
        for (size_t at; (at = line.find(prompt)) != std::string::npos;) line.erase(at, prompt.size());
        line.erase(0, line.find_first_not_of(" \t"));
        const size_t colon = line.find(":error:");
        const bool queue = colon != std::string::npos && colon > 0 &&
                           line.find_first_not_of("0123456789ABCDEFabcdef") == colon;
        if (line.empty() || queue || line == "Failed") continue;
        joined += (joined.empty() ? "" : "; ") + line;
    }
    return joined;
}

// The passphrase is the whole pass file less one line end ("\n" or "\r\n") at its end.
// osslsigncode drops every line end at the end of what it reads, so a passphrase that ends in
// one after that would unlock the key as a shorter one: it is refused.
void check_passphrase_file(const std::filesystem::path& path) {
    const auto bytes = read_whole_file(path, kLargestPassphraseFile, "a passphrase file");
    std::string passphrase(bytes.begin(), bytes.end());
    if (!passphrase.empty() && passphrase.back() == '\n') passphrase.pop_back();
    if (!passphrase.empty() && passphrase.back() == '\r' && bytes.back() == '\n') passphrase.pop_back();
    if (!passphrase.empty() && (passphrase.back() == '\n' || passphrase.back() == '\r')) {
        throw ToolError("'" + utf8_of(path) + "': the passphrase ends in a line end after the one that ends the file, "
                        "which osslsigncode would drop too; the passphrase is the whole file less one line end");
    }
}

}  // namespace

OptionTable signing_options() {
    return {
        {{"--sign-key"}, "KEY",
         std::string("sign the executable with Authenticode (through ") + kSignerShown +
             "),\nwith this private key (PEM or DER)"},
        {{"--sign-cert"}, "CERT", "the key's certificate, any intermediate ones after it (PEM or DER)"},
        {{"--sign-pass-file"}, "FILE",
         "the passphrase of an encrypted key: the whole of FILE, less a\n"
         "line end at its end (never put on a command line)"},
        {{"--sign-timestamp"}, "URL",
         "countersign by this RFC 3161 timestamp server, so the signature\n"
         "stays valid after the certificate expires; each build then\n"
         "differs. Without it, the signature records SOURCE_DATE_EPOCH\n"
         "when set (the same inputs and RSA key give the same bytes),\n"
         "else the time of the build"},
        {{"--sign-timeout"}, "SECONDS",
         "give up signing, and the build, after this many seconds\n(default " +
             std::to_string(kDefaultSigningTimeout) + "; a timestamp server normally answers within seconds)"},
    };
}

std::optional<Signing> signing_from(const CommandLine& line) {
    const auto key = line.value("--sign-key");
    const auto certificate = line.value("--sign-cert");
    if (!key && !certificate) {
        for (const char* option : {"--sign-pass-file", "--sign-timestamp", "--sign-timeout"}) {
            if (line.value(option)) throw UsageError(std::string("build: ") + option + " needs --sign-key and --sign-cert");
        }
        return std::nullopt;
    }
    if (!key || !certificate) throw UsageError("build: --sign-key and --sign-cert go together");
    Signing signing{path_from_utf8(*key), path_from_utf8(*certificate), line.path("--sign-pass-file"),
                    line.value("--sign-timestamp"), signing_time()};
    signing.timeout_seconds = line.number("--sign-timeout", 1, 24 * 60 * 60).value_or(kDefaultSigningTimeout);
    // Regular files that can be read: osslsigncode would wait on a FIFO.
    for (const auto& input : signing_inputs(signing)) InputFile{input.path};
    if (signing.passphrase_file) check_passphrase_file(*signing.passphrase_file);
    if (!on_path(kSigner)) throw ToolError(kMissingSigner);
    return signing;
}

std::vector<InputPath> signing_inputs(const std::optional<Signing>& signing) {
    if (!signing) return {};
    std::vector<InputPath> inputs = {{"--sign-key", signing->key}, {"--sign-cert", signing->certificate}};
    if (signing->passphrase_file) inputs.push_back({"--sign-pass-file", *signing->passphrase_file});
    return inputs;
}

std::filesystem::path sign_image(const Signing& signing, const std::filesystem::path& image) {
    const auto signed_image = image.parent_path() / path_from_utf8("signed-" + utf8_of(image.filename()));
    std::vector<std::string> command = {kSigner, "sign", "-h", "sha256", "-key", utf8_of(signing.key),
                                        "-certs", utf8_of(signing.certificate)};
    if (signing.passphrase_file) command.insert(command.end(), {"-readpass", utf8_of(*signing.passphrase_file)});
    if (signing.timestamp_server) command.insert(command.end(), {"-ts", *signing.timestamp_server});
    if (signing.signing_time) command.insert(command.end(), {"-time", *signing.signing_time});
    command.insert(command.end(), {"-in", utf8_of(image), "-out", utf8_of(signed_image)});
    std::string output;
    const auto ended = program_output_apart_from_terminal("signing", command, output, signing.timeout_seconds);
    if (!ended) {
        throw ToolError(std::string("signing failed: ") + kSigner + " did not finish within " +
                        std::to_string(signing.timeout_seconds) + " seconds (--sign-timeout)" +
                        (signing.timestamp_server ? "; the timestamp server '" + *signing.timestamp_server +
                                                        "' did not answer in time"
                                                  : ""));
    }
    if (const int status = *ended; status != 0) {
        const std::string why = explanation(output);
        throw ToolError(std::string("signing failed: ") + kSigner + " exited with " + std::to_string(status) +
                        (why.empty() ? "" : ": " + why));
    }
    return signed_image;
}

}  // namespace kelvor
