# The decompression half of zstd for the launcher, from the sources that scripts/setup fetched
# (the same release as the host library the packer links), once for each processor level:
# kelvor_zstd_decompress_<level>.
set(KELVOR_ZSTD_SOURCE_DIR "${PROJECT_SOURCE_DIR}/.deps/zstd" CACHE PATH "zstd source tree")
if(NOT EXISTS "${KELVOR_ZSTD_SOURCE_DIR}/lib/zstd.h")
  message(FATAL_ERROR "No zstd sources in ${KELVOR_ZSTD_SOURCE_DIR}: run scripts/setup first.")
endif()

file(GLOB _kelvor_zstd_sources CONFIGURE_DEPENDS
     "${KELVOR_ZSTD_SOURCE_DIR}/lib/common/*.c"
     "${KELVOR_ZSTD_SOURCE_DIR}/lib/decompress/*.c")
foreach(_level IN LISTS KELVOR_CPU_LEVELS)
  set(_target kelvor_zstd_decompress_${_level})
  add_library(${_target} STATIC ${_kelvor_zstd_sources})
  target_include_directories(${_target} SYSTEM PUBLIC "$<BUILD_INTERFACE:${KELVOR_ZSTD_SOURCE_DIR}/lib>")
  # Legacy formats and tracing are not part of the payload format. Where the level has no BMI2,
  # zstd picks its BMI2 paths at run time from its own CPUID check.
  target_compile_definitions(${_target} PRIVATE ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_TRACE)
  kelvor_cpu_flags(_flags ${_level})
  target_compile_options(${_target} PRIVATE -O3 ${_flags})
  set_target_properties(${_target} PROPERTIES OUTPUT_NAME ${KELVOR_ZSTD_DECOMPRESS_NAME}
      ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/${KELVOR_LAUNCHER_DIRECTORY}/${_level})
endforeach()

# All of zstd, compression and its worker threads included, for the Windows build of the tool:
# kelvor_zstd_full, for plain x86-64. The multithreaded frame does not depend on the number of
# workers, nor on the system, so this tool writes the host tool's bytes.
file(GLOB _kelvor_zstd_compress_sources CONFIGURE_DEPENDS "${KELVOR_ZSTD_SOURCE_DIR}/lib/compress/*.c")
add_library(kelvor_zstd_full STATIC ${_kelvor_zstd_sources} ${_kelvor_zstd_compress_sources})
target_include_directories(kelvor_zstd_full SYSTEM PUBLIC "${KELVOR_ZSTD_SOURCE_DIR}/lib")
target_compile_definitions(kelvor_zstd_full PRIVATE ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_TRACE ZSTD_MULTITHREAD)
target_compile_options(kelvor_zstd_full PRIVATE -O3)
