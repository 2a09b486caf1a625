#include "entry_collection.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "entry_names.h"
#include "runner/runner_name.h"
#include "file_contents.h"
#include "text_encoding.h"
#include "tool_error.h"
#include "utf8_paths.h"

namespace fs = std::filesystem;

namespace kelvor {

namespace {

std::vector<std::string> components_of(const fs::path& relative) {
    std::vector<std::string> components;
    for (const auto& part : relative) components.push_back(utf8_of(part));
    return components;
}

// Opened once here, so that a file that cannot be read is found before anything is written.
std::uint64_t checked_size(const fs::path& file) { return InputFile(file).size(); }

// Symbolic links to regular files are packed as the files they name; anything else that is
// not a directory or a regular file has no place in a payload.
bool is_packable_file(const fs::directory_entry& item) {
    std::error_code error;
    const auto status = item.status(error);
    const std::string shown = "'" + utf8_of(item.path()) + "'";
    if (!fs::status_known(status)) throw ToolError("cannot read " + shown + ": " + error.message());
    if (item.is_symlink(error)) {
        if (!fs::exists(status)) throw ToolError(shown + " is a broken symbolic link");
        if (fs::is_directory(status)) {
            throw ToolError(shown + " is a symbolic link to a directory; only regular files are packed");
        }
    }
    if (fs::is_directory(status)) return false;
    if (!fs::is_regular_file(status)) throw ToolError(shown + " is not a regular file");
    return true;
}

// The DLL's path relative to the directory, when it lies inside it.
std::optional<fs::path> path_inside(const fs::path& app, const fs::path& dir) {
    const fs::path relative = fs::canonical(app).lexically_relative(fs::canonical(dir));
    if (relative.empty() || utf8_of(*relative.begin()) == "..") return std::nullopt;
    return relative;
}

// Every file below dir that is packed, in no particular order. A directory that cannot be read
// is named in the message.
std::vector<fs::path> files_below(const fs::path& dir) {
    std::vector<fs::path> files;
    std::vector<fs::path> pending{dir};
    while (!pending.empty()) {
        const fs::path directory = pending.back();
        pending.pop_back();
        std::error_code error;
        for (fs::directory_iterator item(directory, error), end; !error && item != end; item.increment(error)) {
            if (is_packable_file(*item)) {
                files.push_back(item->path());
            } else {
                pending.push_back(item->path());
            }
        }
        if (error) throw ToolError("cannot read the directory '" + utf8_of(directory) + "': " + error.message());
    }
    return files;
}

std::u16string directory_part(const std::u16string& name, size_t end) { return name.substr(0, end); }

// Windows compares names without regard to case: two entries whose names differ only in
// case would be one file there, and a file named like a directory on another entry's path
// cannot be created at all.
void check_names_distinct(const std::vector<Entry>& entries) {
    std::map<std::u16string, const Entry*> files;
    for (const auto& entry : entries) {
        const auto [it, inserted] = files.emplace(case_folded(entry.name), &entry);
        if (inserted) continue;
        const std::string both = "'" + utf8_of(it->second->source) + "' and '" + utf8_of(entry.source) + "'";
        if (it->second->name == entry.name) {
            throw ToolError(both + " would both be packed as '" + utf16_to_utf8(entry.name) + "'");
        }
        throw ToolError(both + " have names that differ only in case ('" + utf16_to_utf8(it->second->name) +
                        "', '" + utf16_to_utf8(entry.name) + "'); Windows would take them for one file");
    }
    for (const auto& entry : entries) {
        for (size_t at = entry.name.find(u'\\'); at != std::u16string::npos;
             at = entry.name.find(u'\\', at + 1)) {
            const auto clash = files.find(case_folded(directory_part(entry.name, at)));
            if (clash != files.end()) {
                throw ToolError("'" + utf8_of(clash->second->source) + "' is a file, but '" +
                                utf8_of(entry.source) + "' needs a directory of that name");
            }
        }
    }
}

void check_directory(const fs::path& dir) {
    std::error_code error;
    if (!fs::exists(fs::status(dir, error))) throw ToolError("directory '" + utf8_of(dir) + "' does not exist");
    if (!fs::is_directory(dir, error)) throw ToolError("'" + utf8_of(dir) + "' is not a directory");
}

// Every file below dir but the one already packed as the first entry, under its path relative
// to dir.
void add_files_below(const fs::path& dir, const std::optional<fs::path>& first_in_dir, std::vector<Entry>& entries) {
    for (const auto& file : files_below(dir)) {
        const fs::path relative = file.lexically_relative(dir);
        if (first_in_dir && relative == *first_in_dir) continue;
        entries.push_back({file, make_entry_name(components_of(relative), utf8_of(file)), checked_size(file)});
    }
}

// The first entry stays first; the others are sorted by name.
std::vector<Entry> in_payload_order(std::vector<Entry> entries) {
    std::sort(entries.begin() + 1, entries.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    check_names_distinct(entries);
    return entries;
}

}  // namespace

std::vector<Entry> collect_entries(const fs::path& app, const std::optional<fs::path>& dir) {
    std::error_code error;
    const auto app_status = fs::status(app, error);
    if (!fs::exists(app_status)) throw ToolError("application DLL '" + utf8_of(app) + "' does not exist");
    if (!fs::is_regular_file(app_status)) {
        throw ToolError("application DLL '" + utf8_of(app) + "' is not a regular file");
    }

    std::optional<fs::path> app_in_dir;
    if (dir) {
        check_directory(*dir);
        app_in_dir = path_inside(app, *dir);
    }

    std::vector<Entry> entries;
    const fs::path app_name = app_in_dir ? *app_in_dir : app.filename();
    entries.push_back({app, make_entry_name(components_of(app_name), utf8_of(app)), checked_size(app)});
    if (dir) add_files_below(*dir, app_in_dir, entries);
    return in_payload_order(std::move(entries));
}

std::vector<Entry> collect_program_entries(const fs::path& runner, const fs::path& program, const fs::path& dir) {
    check_directory(dir);
    const std::string shown = "program '" + utf8_of(program) + "'";
    const auto is_upward = [](const fs::path& part) { return utf8_of(part) == ".."; };
    if (program.empty() || program.is_absolute() || std::any_of(program.begin(), program.end(), is_upward)) {
        throw ToolError(shown + " must be a path relative to the directory given with --dir, inside it");
    }
    std::error_code error;
    const auto status = fs::status(dir / program, error);
    if (!fs::exists(status)) throw ToolError(shown + " does not exist in '" + utf8_of(dir) + "'");
    if (!fs::is_regular_file(status)) throw ToolError(shown + " in '" + utf8_of(dir) + "' is not a regular file");

    auto runner_name_parts = components_of(program.lexically_normal());
    runner_name_parts.back() += runner_name::suffix;
    std::vector<Entry> entries;
    entries.push_back({runner, make_entry_name(runner_name_parts, utf8_of(runner)), checked_size(runner)});
    add_files_below(dir, std::nullopt, entries);
    return in_payload_order(std::move(entries));
}

}  // namespace kelvor
