# Building single-file launchers with CMake: kelvor_add_onefile and the steps it is made of.
#
# kelvor_add_onefile runs "kelvor-onefile build", which writes the payload, the strings and the
# resources into a copy of a prebuilt launcher: no compiler is needed, and the command line and
# CMake give the same bytes. Linking by hand is the other way: kelvor_pack_payload and
# kelvor_add_image_sources write the payload and the image sources, and the launcher library,
# KelvorOnefile::launcher, supplies the rest of the executable and carries its link flags; the
# languages that needs (C++ to link, assembly and resource scripts) are enabled by the project
# (in this tree) or by the package's config. KELVOR_ONEFILE_TOOL names the tool and
# KELVOR_ONEFILE_LAUNCHER_DIR the prebuilt launchers and the runner DLL: the project sets them
# (in this tree) or the package's config does.
#
# The package may be loaded inside a function, whose variables end with it: the functions
# below read what they need from cmake/KelvorOnefileLinking.cmake themselves
# (_kelvor_read_linking), and the tool's path is a cache entry.

# The processor level an executable is built for: one of KELVOR_CPU_LEVELS, the default when
# empty. Targets take it from the variable KELVOR_ONEFILE_CPU when they are made.
define_property(TARGET PROPERTY KELVOR_ONEFILE_CPU INITIALIZE_FROM_VARIABLE KELVOR_ONEFILE_CPU)

# The names and the layout of cmake/KelvorOnefileLinking.cmake (beside this file), in the
# calling function's scope.
macro(_kelvor_read_linking)
  include("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/KelvorOnefileLinking.cmake")
endmacro()

# A path argument as the tool must see it: relative paths are taken from the current source
# directory, as CMake users expect (the tool runs in the binary directory); generator
# expressions are left as they are.
function(_kelvor_absolute out path)
  if(path MATCHES "^\\$<" OR IS_ABSOLUTE "${path}")
    set(${out} "${path}" PARENT_SCOPE)
  else()
    get_filename_component(_absolute "${path}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    set(${out} "${_absolute}" PARENT_SCOPE)
  endif()
endfunction()

# A value as one element of a list, whatever it holds: a ';' would split it.
function(_kelvor_one_element out value)
  string(REPLACE ";" "\\;" _escaped "${value}")
  set(${out} "${_escaped}" PARENT_SCOPE)
endfunction()

# A file as a dependency that every generator takes: the file itself when its path is plain,
# else a link to it in the binary directory (CMake splits a dependency at ';', make misreads
# ':', '(' and more; a link is followed when times are compared).
function(_kelvor_dependency out path)
  if(path MATCHES "^[A-Za-z0-9_./+ -]*$")
    set(${out} "${path}" PARENT_SCOPE)
    return()
  endif()
  string(SHA1 _key "${path}")
  set(_links "${CMAKE_CURRENT_BINARY_DIR}/kelvor-links")
  file(MAKE_DIRECTORY "${_links}")
  file(CREATE_LINK "${path}" "${_links}/${_key}" SYMBOLIC)
  set(${out} "${_links}/${_key}" PARENT_SCOPE)
endfunction()

# Every file below dir, as dependencies (see _kelvor_dependency). The glob runs again at every
# build, so that a file added or removed is seen; its pattern has each of [ ] * ? in a class of
# its own, since the glob reads them ("data[1]" would match "data1"). A name holding ';' comes
# out of the glob in pieces, which are joined again until they name a file.
function(_kelvor_files_below out dir)
  string(REGEX REPLACE "([][*?])" "[\\1]" _pattern "${dir}")
  file(GLOB_RECURSE _pieces LIST_DIRECTORIES false RELATIVE "${dir}" CONFIGURE_DEPENDS "${_pattern}/*")
  set(_files "")
  set(_name "")
  foreach(_piece IN LISTS _pieces)
    if(_name STREQUAL "")
      set(_name "${_piece}")
    else()
      string(APPEND _name ";${_piece}")
    endif()
    if(EXISTS "${dir}/${_name}" AND NOT IS_DIRECTORY "${dir}/${_name}")
      _kelvor_dependency(_file "${dir}/${_name}")
      list(APPEND _files "${_file}")
      set(_name "")
    endif()
  endforeach()
  set(${out} ${_files} PARENT_SCOPE)
endfunction()

# kelvor_pack_payload(OUTPUT file {APP dll [DIR dir] | EXE program DIR dir} [DEPENDS ...] [OPTIONS ...])
# Packs a payload block at build time, again whenever the DLL, a file below DIR (a file added
# there is found at the next configure, which the build runs itself) or a DEPENDS item
# changes. APP and DIR are paths, with any characters a file name may hold; OPTIONS go to
# "kelvor-onefile pack" (--level, --threads).
# EXE instead of APP packs an ordinary program: its path relative to DIR, started by the runner
# DLL (KelvorOnefile::runner), which is packed as the first entry.
# Files that the build itself writes (a DLL given by a path that does not exist yet, files
# below DIR) are waited for through DEPENDS, which names them or what writes them.
function(kelvor_pack_payload)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "OUTPUT;APP;EXE;DIR" "DEPENDS;OPTIONS")
  _kelvor_inputs(_input_args _input_depends "${arg_APP}" "${arg_EXE}" "${arg_DIR}" kelvor_pack_payload)
  add_custom_command(
    OUTPUT "${arg_OUTPUT}"
    COMMAND "${KELVOR_ONEFILE_TOOL}" pack ${_input_args} -o "${arg_OUTPUT}" ${arg_OPTIONS}
    DEPENDS "${KELVOR_ONEFILE_TOOL}" ${_input_depends} ${arg_DEPENDS}
    COMMENT "Packing ${arg_OUTPUT}"
    VERBATIM)
endfunction()

# The tool's arguments for an application (app: a DLL's path) or an ordinary program (exe: its
# path relative to dir) and the files below dir, with the directory of the runner DLL and the
# prebuilt launchers, and the files they are made from, as dependencies. caller names the
# function for messages.
function(_kelvor_inputs out_args out_depends app exe dir caller)
  _kelvor_read_linking()
  set(_args --launcher-dir "${KELVOR_ONEFILE_LAUNCHER_DIR}")
  if(exe)
    if(app OR NOT dir)
      message(FATAL_ERROR "${caller}: EXE takes a program's path relative to DIR, and no APP")
    endif()
    _kelvor_one_element(_exe_argument "${exe}")
    list(APPEND _args --exe "${_exe_argument}")
    set(_depends "${KELVOR_ONEFILE_LAUNCHER_DIR}/${KELVOR_RUNNER_NAME}.dll")
  else()
    _kelvor_absolute(_app "${app}")
    _kelvor_one_element(_app_argument "${_app}")
    list(APPEND _args --app "${_app_argument}")
    set(_depends "")
    if(_app MATCHES "^\\$<")
      set(_depends "${_app}")
    elseif(EXISTS "${_app}")
      _kelvor_dependency(_depends "${_app}")
    endif()
  endif()
  if(dir)
    _kelvor_absolute(_dir "${dir}")
    _kelvor_one_element(_dir_argument "${_dir}")
    list(APPEND _args --dir "${_dir_argument}")
    _kelvor_files_below(_dir_depends "${_dir}")
    list(APPEND _depends ${_dir_depends})
  endif()
  set(${out_args} "${_args}" PARENT_SCOPE)
  set(${out_depends} "${_depends}" PARENT_SCOPE)
endfunction()

# The files a launcher's icons come from: an .ico file, the PNGs of a folder, or (no ICON) the
# default icons beside the tool's bin directory. A file that does not exist is left to the
# tool, which says what is wrong.
function(_kelvor_icon_inputs out icon)
  if(icon STREQUAL "")
    _kelvor_read_linking()
    get_filename_component(_tool_directory "${KELVOR_ONEFILE_TOOL}" DIRECTORY)
    set(icon "${_tool_directory}/../${KELVOR_ICONS_DIRECTORY}")
  endif()
  set(_files "")
  if(IS_DIRECTORY "${icon}")
    _kelvor_files_below(_files "${icon}")
  elseif(EXISTS "${icon}")
    _kelvor_dependency(_files "${icon}")
  endif()
  set(${out} ${_files} PARENT_SCOPE)
endfunction()

# Linking by hand needs the launcher library, which only a project that compiles for 64-bit
# Windows with the package's toolchain file has.
function(_kelvor_require_launcher caller)
  if(NOT TARGET KelvorOnefile::launcher)
    message(FATAL_ERROR "${caller}: linking a launcher by hand needs the launcher library, which a project that "
                        "compiles nothing does not load; kelvor_add_onefile needs no compiler. To link by hand, "
                        "enable C++ and configure the project with the toolchain file of the KelvorOnefile package")
  endif()
endfunction()

# kelvor_add_image_sources(target PAYLOAD file [NAME file.exe] [COMPANY text] [PRODUCT text]
#                          [VERSION text] [PRODUCT_VERSION text] [DESCRIPTION text] [ICON path]
#                          [TEMPLATE text])
# Adds to target what distinguishes one launcher executable: the payload block and the
# build-time strings in its read-only data, and its version resource, manifest and icons,
# as sources that kelvor-onefile writes. They are written again when the payload, the tool or
# an icon changes.
function(kelvor_add_image_sources target)
  _kelvor_require_launcher(kelvor_add_image_sources)
  cmake_parse_arguments(PARSE_ARGV 1 arg ""
                        "PAYLOAD;NAME;COMPANY;PRODUCT;VERSION;PRODUCT_VERSION;DESCRIPTION;ICON;TEMPLATE" "")
  if(NOT arg_NAME)
    set(arg_NAME "${target}.exe")
  endif()
  if(DEFINED arg_ICON)
    _kelvor_absolute(arg_ICON "${arg_ICON}")
  endif()
  _kelvor_icon_inputs(_icon_files "${arg_ICON}")
  set(_options "")
  foreach(_setting COMPANY PRODUCT VERSION PRODUCT_VERSION DESCRIPTION ICON TEMPLATE)
    if(DEFINED arg_${_setting})
      string(TOLOWER "${_setting}" _option)
      string(REPLACE "_" "-" _option "${_option}")
      _kelvor_one_element(_value "${arg_${_setting}}")
      list(APPEND _options "--${_option}" "${_value}")
    endif()
  endforeach()
  set(_directory "${CMAKE_CURRENT_BINARY_DIR}/${target}-image")
  set(_outputs "${_directory}/image-data.S" "${_directory}/image-data.head" "${_directory}/resources.rc" "${_directory}/icon.ico"
               "${_directory}/application.manifest")
  add_custom_command(
    OUTPUT ${_outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory "${_directory}"
    COMMAND "${KELVOR_ONEFILE_TOOL}" embed --payload "${arg_PAYLOAD}" --output-dir "${_directory}"
            --name "${arg_NAME}" ${_options}
    DEPENDS "${KELVOR_ONEFILE_TOOL}" "${arg_PAYLOAD}" ${_icon_files}
    COMMENT "Writing the image sources of ${target}"
    VERBATIM)
  # The assembler reads the payload itself (.incbin), the resource compiler the icons and the
  # manifest.
  set_source_files_properties("${_directory}/image-data.S" PROPERTIES
      OBJECT_DEPENDS "${arg_PAYLOAD};${_directory}/image-data.head")
  set_source_files_properties("${_directory}/resources.rc" PROPERTIES
      OBJECT_DEPENDS "${_directory}/icon.ico;${_directory}/application.manifest")
  target_sources(${target} PRIVATE "${_directory}/image-data.S" "${_directory}/resources.rc")
endfunction()

# kelvor_add_onefile(NAME name {APP dll-target-or-path | EXE program} [DIR dir] [CONSOLE]
#                    [COMPANY text] [PRODUCT text] [VERSION text] [PRODUCT_VERSION text]
#                    [DESCRIPTION text] [ICON path] [TEMPLATE text] [WINDOW_LOG n] [CPU level]
#                    [PACK_OPTIONS ...] [DEPENDS ...])
# One executable, name.exe in the current binary directory, that carries the application DLL
# and the files below DIR: "kelvor-onefile build" run at build time, so the same bytes as from
# the command line. The target name is a custom target that builds it; its property
# KELVOR_ONEFILE_EXECUTABLE holds the executable's path. EXE names an ordinary program by its
# path relative to DIR instead (see kelvor_pack_payload). CONSOLE makes a console-subsystem
# executable (the default is the GUI subsystem). WINDOW_LOG sets the payload's window to 2^n
# bytes (the default is the smallest that holds the payload, at most 16 MiB). CPU is the
# processor level (zen4, x86-64-v3, x86-64-v2, x86-64; the default is the variable
# KELVOR_ONEFILE_CPU, else zen4). PACK_OPTIONS go to the tool as they are (--level, --threads).
# DEPENDS names files or targets that the executable is built after and again whenever they
# change (files below DIR that the build itself writes, for instance).
function(kelvor_add_onefile)
  cmake_parse_arguments(PARSE_ARGV 0 arg "CONSOLE"
                        "NAME;APP;EXE;DIR;COMPANY;PRODUCT;VERSION;PRODUCT_VERSION;DESCRIPTION;ICON;TEMPLATE;WINDOW_LOG;CPU"
                        "PACK_OPTIONS;DEPENDS")
  _kelvor_read_linking()
  # NAME names the target and the executable, which CMake would refuse deep inside with its own
  # words.
  if(NOT arg_NAME MATCHES "^[A-Za-z0-9_.+-]+$")
    message(FATAL_ERROR "kelvor_add_onefile: NAME '${arg_NAME}' must be a CMake target name, made of letters, "
                        "digits and _ . + - (it names the target and the executable, NAME.exe)")
  endif()
  set(_cpu "${arg_CPU}")
  if(NOT _cpu)
    set(_cpu "${KELVOR_ONEFILE_CPU}")
  endif()
  if(NOT _cpu)
    set(_cpu "${KELVOR_DEFAULT_CPU}")
  endif()
  if(NOT _cpu IN_LIST KELVOR_CPU_LEVELS)
    message(FATAL_ERROR "${arg_NAME}: the processor level '${_cpu}' is none of ${KELVOR_CPU_LEVELS}")
  endif()
  set(_depends ${arg_DEPENDS})
  set(_app "${arg_APP}")
  if(arg_APP AND TARGET "${arg_APP}")
    list(APPEND _depends "${arg_APP}")
    set(_app "$<TARGET_FILE:${arg_APP}>")
  endif()
  _kelvor_inputs(_args _input_depends "${_app}" "${arg_EXE}" "${arg_DIR}" kelvor_add_onefile)
  if(arg_CONSOLE)
    set(_prebuilt "${KELVOR_PREBUILT_CONSOLE_NAME}.exe")
    list(APPEND _args --console)
  else()
    set(_prebuilt "${KELVOR_PREBUILT_GUI_NAME}.exe")
  endif()
  list(APPEND _args --cpu "${_cpu}")
  if(DEFINED arg_ICON)
    _kelvor_absolute(arg_ICON "${arg_ICON}")
  endif()
  _kelvor_icon_inputs(_icon_files "${arg_ICON}")
  foreach(_setting COMPANY PRODUCT VERSION PRODUCT_VERSION DESCRIPTION ICON TEMPLATE WINDOW_LOG)
    if(DEFINED arg_${_setting})
      string(TOLOWER "${_setting}" _option)
      string(REPLACE "_" "-" _option "${_option}")
      _kelvor_one_element(_value "${arg_${_setting}}")
      list(APPEND _args "--${_option}" "${_value}")
    endif()
  endforeach()
  set(_executable "${CMAKE_CURRENT_BINARY_DIR}/${arg_NAME}.exe")
  add_custom_command(
    OUTPUT "${_executable}"
    COMMAND "${KELVOR_ONEFILE_TOOL}" build ${_args} -o "${_executable}" ${arg_PACK_OPTIONS}
    DEPENDS "${KELVOR_ONEFILE_TOOL}" "${KELVOR_ONEFILE_LAUNCHER_DIR}/${_cpu}/${_prebuilt}" ${_input_depends}
            ${_icon_files} ${_depends}
    COMMENT "Building ${arg_NAME}.exe"
    VERBATIM)
  add_custom_target(${arg_NAME} ALL DEPENDS "${_executable}")
  set_target_properties(${arg_NAME} PROPERTIES KELVOR_ONEFILE_EXECUTABLE "${_executable}")
endfunction()

# kelvor_link_launcher(target)
# Links an executable target that has its image sources (kelvor_add_image_sources) with the
# launcher library, the way kelvor_add_onefile does; the link options come with the library, the
# console subsystem's when the target's property KELVOR_ONEFILE_CONSOLE is true, and the code is
# that of the level in its property KELVOR_ONEFILE_CPU (else the default).
function(kelvor_link_launcher target)
  _kelvor_require_launcher(kelvor_link_launcher)
  _kelvor_read_linking()
  get_target_property(_cpu ${target} KELVOR_ONEFILE_CPU)
  if(_cpu AND NOT _cpu IN_LIST KELVOR_CPU_LEVELS)
    message(FATAL_ERROR "${target}: the processor level '${_cpu}' is none of ${KELVOR_CPU_LEVELS}")
  endif()
  target_link_libraries(${target} PRIVATE KelvorOnefile::launcher)
endfunction()
