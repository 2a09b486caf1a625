#include "files/leftover_reclaim.h"

#include "files/native_files.h"
#include "files/owner_only_security.h"
#include "files/target_directory.h"
#include "files/tree_removal.h"
#include "path_template/path_template_variables.h"
#include "path_template/random_text.h"

namespace {

constexpr bool same_text(const char* a, const char* b) { return *a == *b && (*a == '\0' || same_text(a + 1, b + 1)); }
static_assert(same_text(path_template_language::default_template, "{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}"),
              "is_default_target_name reads the names of this template");

constexpr wchar_t name_prefix[] = L"onefile_";
constexpr size_t name_prefix_length = 8;
constexpr size_t time_us_length = 6;
constexpr size_t random_length = random_text_units - 1;
constexpr size_t longest_pid = 10;

// A leftover, opened with the access that a folder held in use refuses to others (a sharing
// violation for a live run's folder), and held in use itself while it is removed, so that no
// other starting run takes it meanwhile.
constexpr EntryRequest leftover_request{directory_removal_access | refused_while_in_use, in_use_share, FILE_OPEN,
                                        FILE_DIRECTORY_FILE, false, false};

DirectoryListing listing;

bool is_default_template(const wchar_t* path_template) {
    const char* expected = path_template_language::default_template;
    for (; *expected != '\0'; ++expected, ++path_template) {
        if (*path_template != static_cast<wchar_t>(*expected)) return false;
    }
    return *path_template == L'\0';
}

bool is_digits(const wchar_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < L'0' || text[i] > L'9') return false;
    }
    return length > 0;
}

// A leftover that a live run does not hold, that is the folder listed and that only this user
// may enter, removed until the deadline.
void reclaim(HANDLE parent, const ListedEntry& entry, ULONGLONG deadline) {
    LONG status = 0;
    HANDLE leftover = open_entry(parent, entry.name, entry.length, leftover_request, nullptr, &status);
    if (leftover == nullptr) return;
    FileIdentity identity;
    if (read_identity(leftover, &identity) && is_real_directory(identity.attributes) &&
        identity.id == entry.identity.id && has_owner_only_security(leftover)) {
        wchar_t name[256];
        wmemcpy(name, entry.name, entry.length);
        name[entry.length] = L'\0';
        remove_directory_tree(leftover, parent, name, deadline);
    }
    CloseHandle(leftover);
}

}  // namespace

bool is_default_target_name(const wchar_t* name, size_t length) {
    constexpr size_t fixed = name_prefix_length + 1 + time_us_length + 1 + random_length;
    if (length <= fixed || length > fixed + longest_pid || wcsncmp(name, name_prefix, name_prefix_length) != 0) {
        return false;
    }
    // Read from the end: the random part may hold underscores itself.
    const wchar_t* random = name + length - random_length;
    const wchar_t* time_us = random - 1 - time_us_length;
    const wchar_t* pid = name + name_prefix_length;
    wchar_t random_text[random_text_units];
    wmemcpy(random_text, random, random_length);
    random_text[random_length] = L'\0';
    return random[-1] == L'_' && time_us[-1] == L'_' && is_digits(time_us, time_us_length) &&
           is_digits(pid, static_cast<size_t>(time_us - 1 - pid)) && is_random_text(random_text);
}

void reclaim_leftovers(const wchar_t* path_template) {
    if (!is_default_template(path_template)) return;
    const ULONGLONG deadline = GetTickCount64() + reclaim_budget_ms;
    HANDLE parent = open_target_parent();
    if (parent == nullptr) return;
    const wchar_t* own_name = target_name();
    start_listing(&listing, parent, L"onefile_*");
    ListedEntry entry;
    while (GetTickCount64() < deadline && next_listed_entry(&listing, &entry)) {
        const bool own = entry.length == wcslen(own_name) && wmemcmp(entry.name, own_name, entry.length) == 0;
        if (!own && is_real_directory(entry.identity.attributes) && is_default_target_name(entry.name, entry.length)) {
            reclaim(parent, entry, deadline);
        }
    }
    CloseHandle(parent);
}
