# Read by cpack once for each generator of cmake/ReleasePackages.cmake: which components of the
# two builds go into the package, and where they install.
set(_host "${CPACK_KELVOR_HOST_BUILD_DIR}")
set(_windows "${CPACK_KELVOR_WINDOWS_BUILD_DIR}")
set(_project "${CPACK_KELVOR_PROJECT}")
if(NOT EXISTS "${_windows}/cmake_install.cmake")
  message(FATAL_ERROR "The release packages carry the Windows build's launchers: build ${_windows} first (scripts/build)")
endif()
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_INSTALL_CMAKE_PROJECTS
      "${_host};${_project};files;/" "${_windows};${_project};files;/" "${_windows};${_project};windows_tool;/")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-windows-x86_64")
else()
  set(CPACK_INSTALL_CMAKE_PROJECTS
      "${_host};${_project};linux_tool;/" "${_host};${_project};files;/" "${_windows};${_project};files;/")
  if(CPACK_GENERATOR STREQUAL "TGZ")
    set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-linux-x86_64")
  endif()
endif()
