// The name a payload gives the runner DLL: the program's own entry name followed by this suffix,
// so "bin\app.exe.kelvor-runner.dll" starts "bin\app.exe" beside it. The tool names the entry,
// the runner reads its program back from its own name. Plain constants, so both include this file.
#pragma once

namespace runner_name {

constexpr char suffix[] = ".kelvor-runner.dll";

}  // namespace runner_name
