# Building single-file launchers with CMake: kelvor_add_onefile and the steps it is made of.
#
# kelvor-onefile (the host tool) packs the payload and writes the image data; the launcher
# library supplies the rest of the executable.
set(KELVOR_ONEFILE_TOOL "${PROJECT_SOURCE_DIR}/build/host/bin/kelvor-onefile" CACHE FILEPATH
    "kelvor-onefile from the host build")

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

# kelvor_add_image_data(target PAYLOAD file [COMPANY text] [PRODUCT text] [VERSION text]
#                       [PRODUCT_VERSION text] [TEMPLATE text])
# Adds to target the read-only data of one launcher executable: the payload block and the
# build-time strings, as an assembly source that kelvor-onefile writes.
function(kelvor_add_image_data target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PAYLOAD;COMPANY;PRODUCT;VERSION;PRODUCT_VERSION;TEMPLATE" "")
  set(_strings "")
  foreach(_setting COMPANY PRODUCT VERSION PRODUCT_VERSION TEMPLATE)
    if(DEFINED arg_${_setting})
      string(TOLOWER "${_setting}" _option)
      string(REPLACE "_" "-" _option "${_option}")
      list(APPEND _strings "--${_option}" "${arg_${_setting}}")
    endif()
  endforeach()
  set(_source "${CMAKE_CURRENT_BINARY_DIR}/${target}-image-data.S")
  add_custom_command(
    OUTPUT "${_source}"
    COMMAND "${KELVOR_ONEFILE_TOOL}" embed --payload "${arg_PAYLOAD}" -o "${_source}" ${_strings}
    DEPENDS "${KELVOR_ONEFILE_TOOL}" "${arg_PAYLOAD}"
    COMMENT "Writing the image data of ${target}"
    VERBATIM)
  # The assembler reads the payload itself (.incbin), so the object depends on it.
  set_source_files_properties("${_source}" PROPERTIES OBJECT_DEPENDS "${arg_PAYLOAD}")
  target_sources(${target} PRIVATE "${_source}")
endfunction()

# kelvor_add_onefile(NAME name APP dll-target-or-path [DIR dir] [COMPANY text] [PRODUCT text]
#                    [VERSION text] [PRODUCT_VERSION text] [TEMPLATE text] [PACK_OPTIONS ...]
#                    [DEPENDS ...])
# One GUI-subsystem executable, name.exe, that carries the application DLL and the files
# below DIR. The main thread, on which the application runs, reserves 16 MiB of stack.
function(kelvor_add_onefile)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;APP;DIR;COMPANY;PRODUCT;VERSION;PRODUCT_VERSION;TEMPLATE"
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

  add_executable(${arg_NAME} WIN32)
  set(_strings "")
  foreach(_setting COMPANY PRODUCT VERSION PRODUCT_VERSION TEMPLATE)
    if(DEFINED arg_${_setting})
      list(APPEND _strings ${_setting} "${arg_${_setting}}")
    endif()
  endforeach()
  kelvor_add_image_data(${arg_NAME} PAYLOAD "${_payload}" ${_strings})
  target_link_libraries(${arg_NAME} PRIVATE kelvor_launcher_core)
  # The entry function lives in the launcher library; the runtime's start-up, linked after
  # it, asks for it, so the linker is told to take it from the library up front.
  target_link_options(${arg_NAME} PRIVATE -municode -Wl,--undefined=wWinMain
                      -Xlinker --stack -Xlinker 16777216,4096)
endfunction()
