# The decompression half of zstd for the launcher, from the sources that scripts/setup fetched
# (the same release as the host library the packer links).
set(KELVOR_ZSTD_SOURCE_DIR "${PROJECT_SOURCE_DIR}/.deps/zstd" CACHE PATH "zstd source tree")
if(NOT EXISTS "${KELVOR_ZSTD_SOURCE_DIR}/lib/zstd.h")
  message(FATAL_ERROR "No zstd sources in ${KELVOR_ZSTD_SOURCE_DIR}: run scripts/setup first.")
endif()

file(GLOB _kelvor_zstd_sources CONFIGURE_DEPENDS
     "${KELVOR_ZSTD_SOURCE_DIR}/lib/common/*.c"
     "${KELVOR_ZSTD_SOURCE_DIR}/lib/decompress/*.c")
add_library(kelvor_zstd_decompress STATIC ${_kelvor_zstd_sources})
target_include_directories(kelvor_zstd_decompress SYSTEM PUBLIC "$<BUILD_INTERFACE:${KELVOR_ZSTD_SOURCE_DIR}/lib>")
# Legacy formats and tracing are not part of the payload format; the BMI2 paths are chosen at
# compile time from the target flags, with no run-time check.
target_compile_definitions(kelvor_zstd_decompress PRIVATE ZSTD_LEGACY_SUPPORT=0 ZSTD_NO_TRACE)
target_compile_options(kelvor_zstd_decompress PRIVATE -O3 ${KELVOR_TARGET_CPU_FLAGS})
