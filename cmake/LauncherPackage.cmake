# What "cmake --install" puts under a prefix from the Windows build: the launcher library and
# the CMake package that outside projects load with find_package(KelvorOnefile). The host
# build installs the tool itself and the default icons.
install(TARGETS kelvor_launcher_core kelvor_zstd_decompress ARCHIVE DESTINATION lib/kelvor-onefile)
install(FILES
    ${PROJECT_SOURCE_DIR}/cmake/KelvorOnefileConfig.cmake
    ${PROJECT_SOURCE_DIR}/cmake/KelvorOnefile.cmake
    ${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw64.cmake
    DESTINATION lib/cmake/KelvorOnefile)
