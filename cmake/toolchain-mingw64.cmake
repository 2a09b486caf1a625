# Cross build for 64-bit Windows with mingw-w64 (posix thread model) against the UCRT.
#
# The compiler's default C runtime is msvcrt; a specs file derived from the compiler's own
# swaps it for the UCRT, whose argument vector and bounded formatters the launcher uses.
# libgcc, libstdc++ and winpthread are linked statically, so every program imports system
# DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELVOR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELVOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_ASM_COMPILER ${KELVOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_RC_COMPILER ${KELVOR_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KELVOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# try_compile projects read this file again with their own binary directory; each writes
# its own copy of the specs file.
set(KELVOR_UCRT_SPECS "${CMAKE_BINARY_DIR}/ucrt.specs")
if(NOT EXISTS "${KELVOR_UCRT_SPECS}")
  execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpspecs
                  OUTPUT_VARIABLE _kelvor_specs COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "-lmsvcrt" "-lucrt" _kelvor_specs "${_kelvor_specs}")
  file(WRITE "${KELVOR_UCRT_SPECS}" "${_kelvor_specs}")
endif()

# __MSVCRT_VERSION__ 0xE00 makes the headers declare the UCRT's functions (it implies _UCRT).
set(_kelvor_runtime_flags "-specs=${KELVOR_UCRT_SPECS} -D__MSVCRT_VERSION__=0x0E00")
set(CMAKE_C_FLAGS_INIT "${_kelvor_runtime_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_kelvor_runtime_flags}")
set(CMAKE_ASM_FLAGS_INIT "${_kelvor_runtime_flags}")
# The static winpthread of this toolchain was built for msvcrt and calls _setjmp, which the
# UCRT spells setjmp.
set(_kelvor_link_flags "-static -Wl,--defsym=_setjmp=setjmp")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_kelvor_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_kelvor_link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_kelvor_link_flags}")
