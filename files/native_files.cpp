#include "files/native_files.h"

#include <winternl.h>

#include <string.h>

#include "text/bounded_text.h"

namespace {

using NtCreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                          ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
using NtQueryDirectoryFileCall = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                                  ULONG, BOOLEAN, PUNICODE_STRING, BOOLEAN);
using NtInformationFileCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);

struct NativeCalls {
    bool looked_up;
    NtCreateFileCall create_file;
    NtQueryDirectoryFileCall query_directory_file;
    NtInformationFileCall query_information_file;
    NtInformationFileCall set_information_file;
};

NativeCalls native;

template <typename Call>
void look_up(HMODULE module, const char* name, Call& call) {
    call = reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Every process has ntdll loaded; a system without one of these calls is not one the launcher
// runs on, and the caller sees a plain failure.
const NativeCalls& native_calls() {
    if (!native.looked_up) {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        if (ntdll != nullptr) {
            look_up(ntdll, "NtCreateFile", native.create_file);
            look_up(ntdll, "NtQueryDirectoryFile", native.query_directory_file);
            look_up(ntdll, "NtQueryInformationFile", native.query_information_file);
            look_up(ntdll, "NtSetInformationFile", native.set_information_file);
        }
        native.looked_up = true;
    }
    return native;
}

constexpr LONG status_not_implemented = static_cast<LONG>(0xC0000002);
constexpr LONG status_no_more_files = static_cast<LONG>(0x80000006);
constexpr ULONG file_id_both_directory_information = 37;
constexpr ULONG file_internal_information = 6;
constexpr ULONG file_rename_information = 10;
constexpr ULONG file_attribute_tag_information = 35;

UNICODE_STRING counted(const wchar_t* text, size_t length) {
    UNICODE_STRING string;
    string.Buffer = const_cast<wchar_t*>(text);
    string.Length = static_cast<USHORT>(length * sizeof(wchar_t));
    string.MaximumLength = string.Length;
    return string;
}

bool starts_with(const wchar_t* text, const wchar_t* prefix) { return wcsncmp(text, prefix, wcslen(prefix)) == 0; }

constexpr DWORD settable_attributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY |
                                      FILE_ATTRIBUTE_OFFLINE;

bool set_disposition(HANDLE file) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// The next piece of the listing into the buffer; false at its end or on a failure.
bool read_listing_piece(DirectoryListing* listing) {
    const NativeCalls& calls = native_calls();
    if (calls.query_directory_file == nullptr) {
        listing->failed = true;
        return false;
    }
    UNICODE_STRING pattern = counted(listing->pattern, listing->pattern == nullptr ? 0 : wcslen(listing->pattern));
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = calls.query_directory_file(
        listing->directory, nullptr, nullptr, nullptr, &io, listing->buffer, sizeof listing->buffer,
        file_id_both_directory_information, FALSE, listing->pattern == nullptr ? nullptr : &pattern,
        listing->started ? FALSE : TRUE);
    // A pattern that matches nothing ends the listing at once.
    if (status == status_no_more_files || (!listing->started && status == status_object_name_not_found)) return false;
    listing->started = true;
    if (status < 0 || io.Information == 0) {
        listing->failed = status < 0;
        return false;
    }
    listing->next = 0;
    listing->filled = io.Information;
    return true;
}

}  // namespace

HANDLE open_entry(HANDLE directory, const wchar_t* name, size_t length, const EntryRequest& request,
                  SECURITY_DESCRIPTOR* descriptor, LONG* status, bool* created) {
    const NativeCalls& calls = native_calls();
    if (calls.create_file == nullptr || length > 32767) {
        *status = status_not_implemented;
        return nullptr;
    }
    UNICODE_STRING object_name = counted(name, length);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE | (request.inheritable ? OBJ_INHERIT : 0),
                               directory, descriptor);
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    const ULONG options = request.options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT |
                          (request.follow_link ? 0 : FILE_OPEN_REPARSE_POINT);
    *status = calls.create_file(&handle, request.access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL,
                                request.share, request.disposition, options, nullptr, 0);
    if (*status < 0) return nullptr;
    if (created != nullptr) *created = io.Information == FILE_CREATED;
    return handle;
}

bool native_path(const wchar_t* path, wchar_t* native_form, size_t capacity) {
    const wchar_t* rest = path;
    const wchar_t* prefix = L"\\??\\";
    if (starts_with(path, L"\\\\?\\") || starts_with(path, L"\\\\.\\")) {
        rest = path + 4;
    } else if (starts_with(path, L"\\\\")) {
        prefix = L"\\??\\UNC\\";
        rest = path + 2;
    }
    if (wcslen(prefix) + wcslen(rest) > capacity) return false;
    native_form[0] = L'\0';
    append_wide(native_form, prefix, capacity);
    append_wide(native_form, rest, capacity);
    return true;
}

// The two native queries rather than GetFileInformationByHandle, which also asks for the
// volume's serial number: that costs Wine 0.3 ms a file.
bool read_identity(HANDLE file, FileIdentity* identity) {
    const NativeCalls& calls = native_calls();
    if (calls.query_information_file == nullptr) return false;
    IO_STATUS_BLOCK io{};
    LARGE_INTEGER id;
    FILE_ATTRIBUTE_TAG_INFO tag;
    if (calls.query_information_file(file, &io, &id, sizeof id, file_internal_information) < 0 ||
        calls.query_information_file(file, &io, &tag, sizeof tag, file_attribute_tag_information) < 0) {
        return false;
    }
    identity->id = static_cast<uint64_t>(id.QuadPart);
    identity->attributes = tag.FileAttributes;
    return true;
}

bool is_real_directory(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool read_volume_path(HANDLE file, VolumePath* path) {
    if (!GetFileInformationByHandleEx(file, FileNameInfo, path->bytes, sizeof path->bytes)) return false;
    path->length = path->info.FileNameLength / sizeof(wchar_t);
    return true;
}

void start_listing(DirectoryListing* listing, HANDLE directory, const wchar_t* pattern) {
    listing->directory = directory;
    listing->pattern = pattern;
    listing->started = false;
    listing->failed = false;
    listing->next = 0;
    listing->filled = 0;
}

bool next_listed_entry(DirectoryListing* listing, ListedEntry* entry) {
    if (listing->next >= listing->filled && !read_listing_piece(listing)) return false;
    const auto* found = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(listing->buffer + listing->next);
    entry->name = found->FileName;
    entry->length = found->FileNameLength / sizeof(wchar_t);
    entry->identity.id = static_cast<uint64_t>(found->FileId.QuadPart);
    entry->identity.attributes = found->FileAttributes;
    listing->next = found->NextEntryOffset == 0 ? listing->filled : listing->next + found->NextEntryOffset;
    return true;
}

bool clear_read_only(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO basic{};
    const DWORD kept = attributes & settable_attributes;
    basic.FileAttributes = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool mark_for_deletion(HANDLE file, DWORD attributes) {
    // Windows refuses to delete a read-only file or folder; Wine refuses one without the Unix
    // owner's write access, which it shows as read-only.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0 && !clear_read_only(file, attributes)) return false;
    return set_disposition(file);
}

bool rename_entry(HANDLE file, HANDLE directory, const wchar_t* name, size_t length, bool replace) {
    const NativeCalls& calls = native_calls();
    union {
        FILE_RENAME_INFO request;
        unsigned char bytes[sizeof(FILE_RENAME_INFO) + sizeof(wchar_t) * 256];
    } rename{};
    if (calls.set_information_file == nullptr || length > 255) return false;
    rename.request.ReplaceIfExists = replace ? TRUE : FALSE;
    rename.request.RootDirectory = directory;
    rename.request.FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
    memcpy(rename.request.FileName, name, length * sizeof(wchar_t));
    IO_STATUS_BLOCK io{};
    // The native call: SetFileInformationByHandle refuses a root directory under Wine.
    return calls.set_information_file(file, &io, &rename, sizeof rename, file_rename_information) >= 0;
}
