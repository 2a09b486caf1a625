# The host build's kelvor-onefile, which the Windows build runs to make payloads.
set(KELVOR_ONEFILE_TOOL "${PROJECT_SOURCE_DIR}/build/host/bin/kelvor-onefile" CACHE FILEPATH
    "kelvor-onefile from the host build")

# kelvor_pack_payload(OUTPUT file APP dll [DIR dir] [DEPENDS ...] [OPTIONS ...])
# Packs a payload block at build time.
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
