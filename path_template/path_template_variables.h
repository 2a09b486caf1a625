// The path-template language's variables, in the order their names are tried, with the kind
// of value each stands for, and the launcher's default template: one list for the launcher,
// which expands templates, and for the build tool, which checks them.
#pragma once

namespace path_template_language {

enum class Variable {
    temp, program, program_base, program_dir, pid, home, cache_dir, company, product, version,
    file_version, product_version, random, time_us, time
};

// What a value can be, as far as the folder that a run creates and removes is concerned.
enum class ValueKind {
    path,     // a folder or file of the machine the run is on: may hold separators
    number,   // PID: digits
    fixed,    // set when the executable is built
    per_run,  // made anew for every run
};

struct VariableInfo {
    const char* name;  // matched without regard to case
    Variable variable;
    ValueKind kind;
};

inline constexpr VariableInfo variables[] = {
    {"TEMP", Variable::temp, ValueKind::path},
    {"PROGRAM", Variable::program, ValueKind::path},
    {"PROGRAM_BASE", Variable::program_base, ValueKind::path},
    {"PROGRAM_DIR", Variable::program_dir, ValueKind::path},
    {"PID", Variable::pid, ValueKind::number},
    {"HOME", Variable::home, ValueKind::path},
    {"CACHE_DIR", Variable::cache_dir, ValueKind::path},
    {"COMPANY", Variable::company, ValueKind::fixed},
    {"PRODUCT", Variable::product, ValueKind::fixed},
    {"VERSION", Variable::version, ValueKind::fixed},
    {"FILE_VERSION", Variable::file_version, ValueKind::fixed},
    {"PRODUCT_VERSION", Variable::product_version, ValueKind::fixed},
    {"RANDOM", Variable::random, ValueKind::per_run},
    {"TIME_US", Variable::time_us, ValueKind::per_run},
    {"TIME", Variable::time, ValueKind::per_run},
};

inline constexpr char default_template[] = "{TEMP}\\onefile_{PID}_{TIME_US}_{RANDOM}";

}  // namespace path_template_language
