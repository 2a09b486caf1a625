# What "cmake --install" puts under a prefix from the Windows build: the launcher library and the
# prebuilt launchers of each processor level and the runner DLL, and the CMake package that outside projects load with
# find_package(KelvorOnefile 0.1), which gives them KelvorOnefile::launcher and
# KelvorOnefile::runner (the same names as in this tree) and kelvor_add_onefile.
# The host build installs the tool itself and the default icons. The build tree holds the same
# package, for projects that use it uninstalled.
include(CMakePackageConfigHelpers)

set_target_properties(kelvor_launcher PROPERTIES EXPORT_NAME launcher)
set_target_properties(kelvor_runner PROPERTIES EXPORT_NAME runner)
# The libraries of each processor level go where "kelvor-onefile build --cpu" looks for them
# beside its bin directory (KELVOR_LAUNCHER_DIRECTORY/<level>/), the runner DLL above them.
install(TARGETS kelvor_launcher kelvor_runner EXPORT KelvorOnefileTargets
        LIBRARY DESTINATION ${KELVOR_LAUNCHER_DIRECTORY})
foreach(_level IN LISTS KELVOR_CPU_LEVELS)
  set_target_properties(kelvor_launcher_core_${_level} PROPERTIES EXPORT_NAME launcher_core_${_level})
  set_target_properties(kelvor_zstd_decompress_${_level} PROPERTIES EXPORT_NAME zstd_decompress_${_level})
  install(TARGETS kelvor_launcher_core_${_level} kelvor_zstd_decompress_${_level} EXPORT KelvorOnefileTargets
          ARCHIVE DESTINATION ${KELVOR_LAUNCHER_DIRECTORY}/${_level})
endforeach()
# The prebuilt launchers, beside their level's library, where "kelvor-onefile build" copies them
# from.
foreach(_prebuilt IN LISTS KELVOR_PREBUILT_LAUNCHERS)
  get_target_property(_level ${_prebuilt} KELVOR_ONEFILE_CPU)
  install(TARGETS ${_prebuilt} RUNTIME DESTINATION ${KELVOR_LAUNCHER_DIRECTORY}/${_level})
endforeach()

set(KELVOR_PACKAGE_DIRECTORY ${CMAKE_INSTALL_LIBDIR}/cmake/KelvorOnefile)
install(EXPORT KelvorOnefileTargets NAMESPACE KelvorOnefile:: DESTINATION ${KELVOR_PACKAGE_DIRECTORY})
# Installed: the modules beside the config, the tool that the host build installs to the prefix.
set(KELVOR_PACKAGE_MODULES ${KELVOR_PACKAGE_DIRECTORY})
set(KELVOR_PACKAGE_TOOL ${CMAKE_INSTALL_BINDIR}/kelvor-onefile)
set(KELVOR_PACKAGE_LAUNCHERS ${KELVOR_LAUNCHER_DIRECTORY})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KelvorOnefileConfig.cmake.in
    ${CMAKE_BINARY_DIR}/package/KelvorOnefileConfig.cmake
    INSTALL_DESTINATION ${KELVOR_PACKAGE_DIRECTORY}
    PATH_VARS KELVOR_PACKAGE_MODULES KELVOR_PACKAGE_TOOL KELVOR_PACKAGE_LAUNCHERS)
# 0.x releases keep their interface within a minor version only. The package is for 64-bit
# Windows builds on any host; the config, not the version check, says so when it does not fit.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/KelvorOnefileConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion ARCH_INDEPENDENT)
install(FILES
    ${CMAKE_BINARY_DIR}/package/KelvorOnefileConfig.cmake
    ${CMAKE_BINARY_DIR}/package/KelvorOnefileConfigVersion.cmake
    ${PROJECT_SOURCE_DIR}/cmake/KelvorOnefile.cmake
    ${PROJECT_SOURCE_DIR}/cmake/KelvorOnefileLinking.cmake
    ${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw64.cmake
    DESTINATION ${KELVOR_PACKAGE_DIRECTORY})

# The same package in this build tree, for a project that uses it without installing it
# (CMAKE_PREFIX_PATH or KelvorOnefile_DIR naming this tree): the targets where this tree builds
# them, the modules from the sources, the tool this tree packs with.
set(_kelvor_tree_package ${CMAKE_BINARY_DIR}/${KELVOR_PACKAGE_DIRECTORY})
export(EXPORT KelvorOnefileTargets NAMESPACE KelvorOnefile:: FILE ${_kelvor_tree_package}/KelvorOnefileTargets.cmake)
set(KELVOR_PACKAGE_MODULES ${PROJECT_SOURCE_DIR}/cmake)
set(KELVOR_PACKAGE_TOOL ${KELVOR_ONEFILE_TOOL})
set(KELVOR_PACKAGE_LAUNCHERS ${KELVOR_ONEFILE_LAUNCHER_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KelvorOnefileConfig.cmake.in
    ${_kelvor_tree_package}/KelvorOnefileConfig.cmake
    INSTALL_DESTINATION ${_kelvor_tree_package} INSTALL_PREFIX ${CMAKE_BINARY_DIR}
    PATH_VARS KELVOR_PACKAGE_MODULES KELVOR_PACKAGE_TOOL KELVOR_PACKAGE_LAUNCHERS)
configure_file(${CMAKE_BINARY_DIR}/package/KelvorOnefileConfigVersion.cmake ${_kelvor_tree_package}/ COPYONLY)
