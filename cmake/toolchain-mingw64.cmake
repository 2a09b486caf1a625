# Cross build for 64-bit Windows with mingw-w64 (posix thread model) against the UCRT, with the
# compile and link flags of cmake/KelvorOnefileLinking.cmake (installed beside this file).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

include("${CMAKE_CURRENT_LIST_DIR}/KelvorOnefileLinking.cmake")

set(CMAKE_C_COMPILER ${KELVOR_C_COMPILER})
set(CMAKE_CXX_COMPILER ${KELVOR_CXX_COMPILER})
set(CMAKE_ASM_COMPILER ${KELVOR_C_COMPILER})
set(CMAKE_RC_COMPILER ${KELVOR_RESOURCE_COMPILER})
set(CMAKE_FIND_ROOT_PATH /usr/${KELVOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The compiler's own specs with the UCRT as the C runtime. try_compile projects read this file
# again with their own binary directory; each writes its own copy.
set(KELVOR_UCRT_SPECS "${CMAKE_BINARY_DIR}/ucrt.specs")
if(NOT EXISTS "${KELVOR_UCRT_SPECS}")
  execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpspecs
                  OUTPUT_VARIABLE _kelvor_specs COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "${KELVOR_SPECS_DEFAULT_RUNTIME}" "${KELVOR_SPECS_UCRT_RUNTIME}" _kelvor_specs "${_kelvor_specs}")
  file(WRITE "${KELVOR_UCRT_SPECS}" "${_kelvor_specs}")
endif()

list(JOIN KELVOR_UCRT_COMPILE_FLAGS " " _kelvor_runtime_flags)
set(_kelvor_runtime_flags "-specs=${KELVOR_UCRT_SPECS} ${_kelvor_runtime_flags}")
set(CMAKE_C_FLAGS_INIT "${_kelvor_runtime_flags}")
set(CMAKE_CXX_FLAGS_INIT "${_kelvor_runtime_flags}")
set(CMAKE_ASM_FLAGS_INIT "${_kelvor_runtime_flags}")
list(JOIN KELVOR_PROGRAM_LINK_FLAGS " " _kelvor_link_flags)
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_kelvor_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_kelvor_link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_kelvor_link_flags}")
