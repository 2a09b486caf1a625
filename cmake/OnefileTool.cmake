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
