# The release packages, made by "cmake --build build/host --target package" once both builds are
# built: a Linux tarball and a Debian package (the tool, the prebuilt launchers and the launcher
# library of every processor level, the runner DLL, the default icons and the CMake package),
# and a Windows zip (the same with kelvor-onefile.exe in place of the Linux tool). Each package
# is put together from the install components of the two builds:
#   linux_tool    the Linux tool (this build)
#   files         the icons (this build) and everything the Windows build installs but its tool
#   windows_tool  kelvor-onefile.exe (the Windows build)
set(KELVOR_WINDOWS_BUILD_DIR "${PROJECT_SOURCE_DIR}/build/windows" CACHE PATH
    "The Windows build whose launchers the release packages carry")

set(CPACK_PACKAGE_NAME kelvor-onefile)
set(CPACK_PACKAGE_VENDOR "Kelvor")
set(CPACK_PACKAGE_CONTACT "Kelvor Onefile developers <kelvor-onefile@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Ships a Windows application as one self-extracting executable")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR TGZ DEB ZIP)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES OFF)
# Each generator takes its own components (cmake/ReleasePackageKinds.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/ReleasePackageKinds.cmake)
set(KELVOR_HOST_BUILD_DIR ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Read back by ReleasePackageKinds.cmake at package time.
set(CPACK_KELVOR_HOST_BUILD_DIR ${CMAKE_BINARY_DIR})
set(CPACK_KELVOR_WINDOWS_BUILD_DIR ${KELVOR_WINDOWS_BUILD_DIR})
set(CPACK_KELVOR_PROJECT ${PROJECT_NAME})
include(CPack)
