# Code generation for the launcher and the target zstd, at each processor level of
# KelvorOnefileLinking.cmake: kelvor_cpu_flags(out level) gives the level's compile flags.
#
# GCC for 64-bit Windows assumes stack slots aligned for vector registers that the Windows ABI
# aligns only to 16 bytes, and spills AVX registers with aligned moves, which fault. The
# assembler is told to emit every aligned vector move as an unaligned one, which costs nothing
# on processors with AVX (and changes nothing for the levels without it).
function(kelvor_cpu_flags out level)
  if(NOT level IN_LIST KELVOR_CPU_LEVELS)
    message(FATAL_ERROR "Unknown processor level '${level}': one of ${KELVOR_CPU_LEVELS}")
  endif()
  set(${out} ${KELVOR_CPU_FLAGS_${level}} -Wa,-muse-unaligned-vector-move PARENT_SCOPE)
endfunction()

# The launcher itself: no exceptions, no RTTI, warnings as errors. Its formatted output is the
# UCRT's own, not mingw-w64's replacement that C++ headers would otherwise switch on.
add_library(kelvor_launcher_flags INTERFACE)
target_compile_options(kelvor_launcher_flags INTERFACE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
# Windows 10 headers: AddDllDirectory and the DLL search flags.
# The version names the launcher in its identity (payload/image_data_layout.h).
target_compile_definitions(kelvor_launcher_flags INTERFACE __USE_MINGW_ANSI_STDIO=0 _WIN32_WINNT=0x0A00
    KELVOR_ONEFILE_VERSION="${PROJECT_VERSION}")
target_link_libraries(kelvor_launcher_flags INTERFACE kelvor_warnings)
