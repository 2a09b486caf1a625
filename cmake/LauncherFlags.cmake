# Code generation for the launcher and the target zstd: Zen 4 (AVX-512 and BMI2, used without
# a run-time check). This GCC has no znver4, so it is znver3 plus the AVX-512 subsets.
#
# GCC for 64-bit Windows assumes stack slots aligned for vector registers that the Windows ABI
# aligns only to 16 bytes, and spills AVX registers with aligned moves, which fault. The
# assembler is told to emit every aligned vector move as an unaligned one, which costs nothing
# on these processors.
set(KELVOR_TARGET_CPU_FLAGS
    -march=znver3 -mavx512f -mavx512cd -mavx512bw -mavx512dq -mavx512vl -mavx512ifma
    -mavx512vbmi -mavx512vbmi2 -mavx512vnni -mavx512bitalg -mavx512vpopcntdq -mavx512bf16
    -Wa,-muse-unaligned-vector-move)

# The launcher itself: no exceptions, no RTTI, warnings as errors. Its formatted output is the
# UCRT's own, not mingw-w64's replacement that C++ headers would otherwise switch on.
add_library(kelvor_launcher_flags INTERFACE)
target_compile_options(kelvor_launcher_flags INTERFACE
    ${KELVOR_TARGET_CPU_FLAGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
# Windows 10 headers: AddDllDirectory and the DLL search flags.
target_compile_definitions(kelvor_launcher_flags INTERFACE __USE_MINGW_ANSI_STDIO=0 _WIN32_WINNT=0x0A00)
target_link_libraries(kelvor_launcher_flags INTERFACE kelvor_warnings)
