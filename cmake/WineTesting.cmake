# CTest runs the Windows test programs under Wine, in a prefix of the build tree's own, so a
# test run writes nothing into the user's home. One persistent wineserver serves the whole
# run (started by the wine.start fixture, stopped by wine.stop), so each program starts in
# milliseconds; Wine's debug output and its crash debugger are off, so a crashing test ends
# at once with its exception status and no window.
find_program(KELVOR_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
find_program(KELVOR_WINE64 NAMES wine64)
find_program(KELVOR_WINESERVER NAMES wineserver PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
find_program(KELVOR_WINESERVER NAMES wineserver)
if(NOT KELVOR_WINE64 OR NOT KELVOR_WINESERVER)
  message(FATAL_ERROR "wine64 and wineserver are needed to run the Windows tests: run scripts/setup.")
endif()

set(KELVOR_WINEPREFIX "${CMAKE_BINARY_DIR}/wine/prefix")
set(KELVOR_WINE_HOME "${CMAKE_BINARY_DIR}/wine/home")
set(KELVOR_WINE_TMP "${CMAKE_BINARY_DIR}/wine/tmp")
configure_file("${CMAKE_CURRENT_LIST_DIR}/wine-env.sh.in" "${CMAKE_BINARY_DIR}/wine/wine-env.sh" @ONLY)
configure_file("${CMAKE_CURRENT_LIST_DIR}/wine-run.in" "${CMAKE_BINARY_DIR}/wine/wine-run"
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE @ONLY)
configure_file("${CMAKE_CURRENT_LIST_DIR}/wine-prefix.in" "${CMAKE_BINARY_DIR}/wine/wine-prefix"
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_BINARY_DIR}/wine/wine-run")

add_test(NAME wine.start COMMAND "${CMAKE_BINARY_DIR}/wine/wine-prefix" start)
# Making the prefix the first time takes up to a minute.
set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
add_test(NAME wine.stop COMMAND "${CMAKE_BINARY_DIR}/wine/wine-prefix" stop)
set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)

# The Windows form of a path in the build tree: Wine's drive Z: is the Unix root.
function(kelvor_windows_path out path)
  string(REPLACE "/" "\\" _windows "${path}")
  set(${out} "Z:${_windows}" PARENT_SCOPE)
endfunction()

# A Windows test program run under Wine; extra arguments go to the program.
function(kelvor_add_windows_test name target)
  add_test(NAME ${name} COMMAND ${target} ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
endfunction()
