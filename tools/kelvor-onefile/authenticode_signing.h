// Authenticode signing of a linked executable, through osslsigncode (Debian's package of that
// name). The signature covers the whole image, the payload in its read-only data included, and
// is appended to the file as its certificate table, after everything the launcher reads.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "output_placement.h"

namespace kelvor {

// How long signing may take, timestamp server included, unless --sign-timeout says otherwise:
// a timestamp server answers within seconds, and hashing even the largest image takes less.
constexpr int kDefaultSigningTimeout = 120;

// --sign-key, --sign-cert, --sign-pass-file, --sign-timestamp and --sign-timeout.
OptionTable signing_options();

struct Signing {
    std::filesystem::path key;
    std::filesystem::path certificate;
    std::optional<std::filesystem::path> passphrase_file;  // handed to osslsigncode by name only
    std::optional<std::string> timestamp_server;           // an RFC 3161 server's URL
    std::optional<std::string> signing_time;               // SOURCE_DATE_EPOCH, seconds since 1970
    int timeout_seconds = kDefaultSigningTimeout;
};

// The signing that the command line asks for, checked before anything is built: --sign-key and
// --sign-cert together, the files regular and readable, a passphrase that osslsigncode reads as
// it stands, osslsigncode installed and SOURCE_DATE_EPOCH, when set, a number of seconds.
// Nothing when no key is given. Throws UsageError or ToolError.
std::optional<Signing> signing_from(const CommandLine& line);

// The files signing reads, which the output may not replace (see check_output_placement).
std::vector<InputPath> signing_inputs(const std::optional<Signing>& signing);

// Signs image into a new file beside it and returns that file's path. Throws ToolError with
// osslsigncode's own explanation when it fails, and when it has not finished within the
// signing's time limit (it is then ended).
std::filesystem::path sign_image(const Signing& signing, const std::filesystem::path& image);

}  // namespace kelvor
