# How programs for the launcher's platform are compiled and linked, and what the launcher
# library and the tool's other companions are called and where they lie, written once. The
# toolchain file, the project's own build and the launcher's CMake package include this file;
# the host tool reads it through a header generated from it
# (tools/kelvor-onefile/launcher_linking.h.in) and the benchmark through a shell fragment
# (cmake/launcher-linking.sh.in), so all of them link alike and "kelvor-onefile build" and
# kelvor_add_onefile give the same bytes.

# The cross compilers: mingw-w64 for x86-64 with the posix thread model (C++ threads in
# applications), for C, C++ and assembly, and its resource compiler. The tool falls back to the
# C++ compiler without the suffix, the name of the default thread model.
set(KELVOR_MINGW_PREFIX x86_64-w64-mingw32)
set(KELVOR_C_COMPILER ${KELVOR_MINGW_PREFIX}-gcc-posix)
set(KELVOR_CXX_COMPILERS ${KELVOR_MINGW_PREFIX}-g++-posix ${KELVOR_MINGW_PREFIX}-g++)
list(GET KELVOR_CXX_COMPILERS 0 KELVOR_CXX_COMPILER)
set(KELVOR_RESOURCE_COMPILER ${KELVOR_MINGW_PREFIX}-windres)

# What ships with the tool, relative to the prefix above its bin directory, in an installation
# and in the build trees (the host build has the icons, the Windows build the libraries): the
# runner DLL, and the launcher library of each processor level in a directory named after the
# level; the default icons.
set(KELVOR_LAUNCHER_DIRECTORY lib/kelvor-onefile)
set(KELVOR_ICONS_DIRECTORY share/kelvor-onefile/icons)
# The launcher library's archives (lib<name>.a), in the order they are linked, and the runner
# DLL (<name>.dll).
set(KELVOR_LAUNCHER_CORE_NAME kelvor_launcher_core)
set(KELVOR_ZSTD_DECOMPRESS_NAME kelvor_zstd_decompress)
set(KELVOR_LAUNCHER_ARCHIVES ${KELVOR_LAUNCHER_CORE_NAME} ${KELVOR_ZSTD_DECOMPRESS_NAME})
set(KELVOR_RUNNER_NAME kelvor-runner)
# The prebuilt launchers of each level, beside its library: the launcher with no image data
# and no resources, one for each subsystem (<name>.exe), which "kelvor-onefile build" copies.
set(KELVOR_PREBUILT_GUI_NAME kelvor-launcher-gui)
set(KELVOR_PREBUILT_CONSOLE_NAME kelvor-launcher-console)
# The launcher's icon group: one PNG image of each of these sizes, in pixels square. Windows
# picks from these for every view and display scale; the default icons are
# resources/icons/icon-<size>.png.
set(KELVOR_ICON_SIZES 16 24 32 48 64 128 256)

# The C runtime. This compiler's default is msvcrt; its own specs with this library swapped for
# the UCRT's make the UCRT the default, and the headers are told to declare the UCRT's functions
# (__MSVCRT_VERSION__ 0xE00 implies _UCRT). The launcher uses the UCRT's argument vector and
# bounded formatters.
set(KELVOR_SPECS_DEFAULT_RUNTIME -lmsvcrt)
set(KELVOR_SPECS_UCRT_RUNTIME -lucrt)
set(KELVOR_UCRT_COMPILE_FLAGS -D__MSVCRT_VERSION__=0x0E00)

# Every program: libgcc, libstdc++ and winpthread are linked statically, so that it imports
# system DLLs only. The static winpthread of this toolchain was built for msvcrt and calls
# _setjmp, which the UCRT spells setjmp.
set(KELVOR_PROGRAM_LINK_FLAGS -static -Wl,--defsym=_setjmp=setjmp)

# Output that depends on the inputs only: no symbols and no time stamp from the clock (the PE
# header's time stamp is 0).
set(KELVOR_REPRODUCIBLE_LINK_FLAGS -s -Wl,--no-insert-timestamp)

# Launcher executables: a wide entry function, wWinMain, which lives in the launcher library.
# The runtime's start-up (crt2u) calls wmain, and libmingw32, linked after the launcher library,
# supplies a wmain that calls wWinMain; so the linker is told to take wWinMain up front. 16 MiB
# of stack reserve for the main thread, on which the application runs (the commit stays at the
# linker's 4 KiB); sections aligned to whole pages in the file as in memory, so that a loader
# can map the payload from the file instead of reading it (Wine reads images with a smaller
# file alignment).
set(KELVOR_LAUNCHER_LINK_FLAGS
    -municode -Wl,--undefined=wWinMain -Wl,--stack,16777216 -Wl,--file-alignment,4096)

# The subsystem, one of these after the flags above: a GUI program with no window (the default),
# or a console program for command-line applications, which a shell waits for and which shares
# its console with the child run. Both start the same way, through wmain to wWinMain; only the
# subsystem field of the image and the libraries the compiler adds for -mwindows differ.
set(KELVOR_GUI_SUBSYSTEM_FLAGS -mwindows)
set(KELVOR_CONSOLE_SUBSYSTEM_FLAGS -mconsole)
# And the launcher's entry point for that subsystem, in the launcher library: it checks the
# processor, then hands over to the runtime's start-up for the subsystem.
set(KELVOR_GUI_ENTRY_FLAGS -Wl,--entry=kelvor_gui_start)
set(KELVOR_CONSOLE_ENTRY_FLAGS -Wl,--entry=kelvor_console_start)

# The system libraries the launcher library imports from, after it on the link line (advapi32
# and shell32 it looks up at run time). kernel32 is named although the compiler's specs link it
# anyway: named here it comes before the C runtime, and an import library's place on the line
# decides the layout of the import table.
set(KELVOR_LAUNCHER_SYSTEM_LIBRARIES kernel32)

# Processor levels. The launcher library and its zstd are built once for each, and an executable
# links the one its build asks for (kelvor-onefile build --cpu, kelvor_add_onefile CPU, the
# target property KELVOR_ONEFILE_CPU); the default is the first. Compiled code uses the level's
# instructions without asking, so a launcher's entry point first checks that the processor has
# them (the check itself is plain x86-64 code) and otherwise ends with a message and exit code 2.
#   zen4       AMD Zen 4 and later (Ryzen 7000, EPYC 9004), Intel Xeon from Sapphire Rapids:
#              AVX-512 with the subsets below, BMI2. This GCC has no znver4: znver3 plus them.
#   x86-64-v3  AVX2, BMI2, FMA: Intel Core from Haswell (2013), AMD from Excavator and Zen 1.
#   x86-64-v2  SSE4.2, POPCNT: nearly every x86-64 PC from 2009 on, all that Windows 11 runs on.
#   x86-64     every 64-bit x86 processor.
set(KELVOR_CPU_LEVELS zen4 x86-64-v3 x86-64-v2 x86-64)
set(KELVOR_DEFAULT_CPU zen4)
set(KELVOR_CPU_FLAGS_zen4 -march=znver3 -mavx512f -mavx512cd -mavx512bw -mavx512dq -mavx512vl -mavx512ifma
    -mavx512vbmi -mavx512vbmi2 -mavx512vnni -mavx512bitalg -mavx512vpopcntdq -mavx512bf16)
set(KELVOR_CPU_FLAGS_x86-64-v3 -march=x86-64-v3)
set(KELVOR_CPU_FLAGS_x86-64-v2 -march=x86-64-v2)
set(KELVOR_CPU_FLAGS_x86-64 -march=x86-64 -mtune=generic)
# Where each level runs, for the tool's help.
set(KELVOR_CPU_RUNS_ON_zen4 "AMD Zen 4 and later, Intel Xeon from Sapphire Rapids (AVX-512)")
set(KELVOR_CPU_RUNS_ON_x86-64-v3 "Intel Core from Haswell (2013), AMD from Zen 1 (AVX2, BMI2)")
set(KELVOR_CPU_RUNS_ON_x86-64-v2 "every PC that Windows 11 runs on (SSE4.2, POPCNT)")
set(KELVOR_CPU_RUNS_ON_x86-64 "every 64-bit x86 processor")
