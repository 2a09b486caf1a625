# find_package(KelvorOnefile) in a Windows build made with the toolchain file installed beside
# this one (toolchain-mingw64.cmake). Gives kelvor_add_onefile, which links executables from
# the installed launcher library with the installed kelvor-onefile tool.
get_filename_component(_kelvor_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(_kelvor_libraries "${_kelvor_prefix}/lib/kelvor-onefile")

if(NOT TARGET KelvorOnefile::launcher)
  add_library(KelvorOnefile::launcher STATIC IMPORTED)
  set_target_properties(KelvorOnefile::launcher PROPERTIES
      IMPORTED_LOCATION "${_kelvor_libraries}/libkelvor_launcher_core.a"
      IMPORTED_LINK_INTERFACE_LANGUAGES CXX
      INTERFACE_LINK_LIBRARIES "${_kelvor_libraries}/libkelvor_zstd_decompress.a;advapi32")
endif()
set(KELVOR_ONEFILE_LAUNCHER KelvorOnefile::launcher)
set(KELVOR_ONEFILE_TOOL "${_kelvor_prefix}/bin/kelvor-onefile" CACHE FILEPATH "kelvor-onefile")
include("${CMAKE_CURRENT_LIST_DIR}/KelvorOnefile.cmake")
set(KelvorOnefile_FOUND TRUE)
