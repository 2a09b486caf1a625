# Building single-file launchers with CMake: kelvor_add_onefile and the steps it is made of.
#
# kelvor-onefile (the host tool) packs the payload and writes the image data; the launcher
# library supplies the rest of the executable.
if(NOT KELVOR_ONEFILE_TOOL)
  set(KELVOR_ONEFILE_TOOL "${PROJECT_SOURCE_DIR}/build/host/bin/kelvor-onefile" CACHE FILEPATH
      "kelvor-onefile from the host build")
endif()
# The launcher library that executables link: the in-tree target here, the imported one in
# an installed package.
if(NOT KELVOR_ONEFILE_LAUNCHER)
  set(KELVOR_ONEFILE_LAUNCHER kelvor_launcher_core)
endif()
# The image data is an assembly source, the resources a resource script.
enable_language(ASM)
enable_language(RC)

# kelvor_pack_payload(OUTPUT file APP dll [DIR dir] [DEPENDS ...] [OPTIONS ...])
# Packs a payload block at build time. APP and DIR are paths; OPTIONS go to
# "kelvor-onefile pack" (--level, --window-log, ...).
function(kelvor_pack_payload)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "OUTPUT;APP;DIR" "DEPENDS;OPTIONS")
  set(_dir_args "")
  set(_dir_depends "")
  if(arg_DIR)
    set(_dir_args --dir "${arg_DIR}")
    file(GLOB_RECURSE _dir_depends CONFIGURE_DEPENDS "${arg_DIR}/*")
  endif()
  add_custom_command(
    OUTPUT "${arg_OUTPUT}"
    COMMAND "${KELVOR_ONEFILE_TOOL}" pack --app "${arg_APP}" ${_dir_args} -o "${arg_OUTPUT}" ${arg_OPTIONS}
    DEPENDS "${KELVOR_ONEFILE_TOOL}" ${arg_DEPENDS} ${_dir_depends}
    COMMENT "Packing ${arg_OUTPUT}"
    VERBATIM)
endfunction()

# kelvor_add_image_sources(target PAYLOAD file [NAME file.exe] [COMPANY text] [PRODUCT text]
#                          [VERSION text] [PRODUCT_VERSION text] [DESCRIPTION text] [ICON path]
#                          [TEMPLATE text])
# Adds to target what distinguishes one launcher executable: the payload block and the
# build-time strings in its read-only data, and its version resource, manifest and icons,
# as sources that kelvor-onefile writes.
function(kelvor_add_image_sources target)
  cmake_parse_arguments(PARSE_ARGV 1 arg ""
                        "PAYLOAD;NAME;COMPANY;PRODUCT;VERSION;PRODUCT_VERSION;DESCRIPTION;ICON;TEMPLATE" "")
  if(NOT arg_NAME)
    set(arg_NAME "${target}.exe")
  endif()
  set(_options "")
  foreach(_setting COMPANY PRODUCT VERSION PRODUCT_VERSION DESCRIPTION ICON TEMPLATE)
    if(DEFINED arg_${_setting})
      string(TOLOWER "${_setting}" _option)
      string(REPLACE "_" "-" _option "${_option}")
      list(APPEND _options "--${_option}" "${arg_${_setting}}")
    endif()
  endforeach()
  set(_directory "${CMAKE_CURRENT_BINARY_DIR}/${target}-image")
  set(_outputs "${_directory}/image-data.S" "${_directory}/resources.rc" "${_directory}/icon.ico"
               "${_directory}/application.manifest")
  add_custom_command(
    OUTPUT ${_outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory "${_directory}"
    COMMAND "${KELVOR_ONEFILE_TOOL}" embed --payload "${arg_PAYLOAD}" --output-dir "${_directory}"
            --name "${arg_NAME}" ${_options}
    DEPENDS "${KELVOR_ONEFILE_TOOL}" "${arg_PAYLOAD}"
    COMMENT "Writing the image sources of ${target}"
    VERBATIM)
  # The assembler reads the payload itself (.incbin), the resource compiler the icons and the
  # manifest.
  set_source_files_properties("${_directory}/image-data.S" PROPERTIES OBJECT_DEPENDS "${arg_PAYLOAD}")
  set_source_files_properties("${_directory}/resources.rc" PROPERTIES
      OBJECT_DEPENDS "${_directory}/icon.ico;${_directory}/application.manifest")
  target_sources(${target} PRIVATE "${_directory}/image-data.S" "${_directory}/resources.rc")
endfunction()

# kelvor_add_onefile(NAME name APP dll-target-or-path [DIR dir] [COMPANY text] [PRODUCT text]
#                    [VERSION text] [PRODUCT_VERSION text] [DESCRIPTION text] [ICON path]
#                    [TEMPLATE text] [PACK_OPTIONS ...] [DEPENDS ...])
# One GUI-subsystem executable, name.exe, that carries the application DLL and the files
# below DIR. The main thread, on which the application runs, reserves 16 MiB of stack.
function(kelvor_add_onefile)
  cmake_parse_arguments(PARSE_ARGV 0 arg ""
                        "NAME;APP;DIR;COMPANY;PRODUCT;VERSION;PRODUCT_VERSION;DESCRIPTION;ICON;TEMPLATE"
                        "PACK_OPTIONS;DEPENDS")
  set(_depends ${arg_DEPENDS})
  if(TARGET "${arg_APP}")
    list(APPEND _depends "${arg_APP}")
    set(_app "$<TARGET_FILE:${arg_APP}>")
  else()
    set(_app "${arg_APP}")
  endif()
  set(_dir_args "")
  if(arg_DIR)
    set(_dir_args DIR "${arg_DIR}")
  endif()
  set(_payload "${CMAKE_CURRENT_BINARY_DIR}/${arg_NAME}.payload")
  kelvor_pack_payload(OUTPUT "${_payload}" APP "${_app}" ${_dir_args} DEPENDS ${_depends} OPTIONS ${arg_PACK_OPTIONS})

  # Its own sources are assembly and a resource script; the launcher library is C++.
  add_executable(${arg_NAME} WIN32)
  set_target_properties(${arg_NAME} PROPERTIES LINKER_LANGUAGE CXX)
  set(_strings "")
  foreach(_setting COMPANY PRODUCT VERSION PRODUCT_VERSION DESCRIPTION ICON TEMPLATE)
    if(DEFINED arg_${_setting})
      list(APPEND _strings ${_setting} "${arg_${_setting}}")
    endif()
  endforeach()
  kelvor_add_image_sources(${arg_NAME} PAYLOAD "${_payload}" ${_strings})
  kelvor_link_launcher(${arg_NAME})
endfunction()

# kelvor_link_launcher(target)
# Links an executable target that has its image sources (kelvor_add_image_sources) with the
# launcher library, the way kelvor_add_onefile does. The main thread, on which the
# application runs, reserves 16 MiB of stack.
function(kelvor_link_launcher target)
  target_link_libraries(${target} PRIVATE ${KELVOR_ONEFILE_LAUNCHER})
  # The entry function lives in the launcher library; the runtime's start-up, linked after
  # it, asks for it, so the linker is told to take it from the library up front.
  # No time stamp from the clock: the same inputs give the same executable. Sections aligned
  # to whole pages in the file as in memory, so that a loader can map the payload from the
  # file instead of reading it into memory (Wine reads images with smaller file alignment).
  target_link_options(${target} PRIVATE -municode -s -Wl,--no-insert-timestamp -Wl,--undefined=wWinMain
                      -Wl,--file-alignment,4096 -Xlinker --stack -Xlinker 16777216,4096)
endfunction()
