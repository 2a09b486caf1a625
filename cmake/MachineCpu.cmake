# KELVOR_MACHINE_CPU: the highest processor level that this machine runs, found once at
# configure time from the processor itself: a probe compiled for each level in turn answers
# whether CPUID and XGETBV offer what that level needs. Wine runs Windows code on the same
# processor and system, so the probe is built with the host's compiler and run directly. The
# tests run at this level, so the suite passes on any x86-64 machine. Set it on the command line
# to test a lower level.
if(NOT KELVOR_MACHINE_CPU)
  find_program(KELVOR_HOST_CXX NAMES c++ g++ REQUIRED)
  set(_probe_dir "${CMAKE_BINARY_DIR}/processor-probe")
  file(MAKE_DIRECTORY "${_probe_dir}")
  foreach(_level IN LISTS KELVOR_CPU_LEVELS)
    kelvor_cpu_flags(_flags ${_level})
    list(FILTER _flags EXCLUDE REGEX "^-Wa,")
    execute_process(
        COMMAND "${KELVOR_HOST_CXX}" -std=c++17 -O2 ${_flags} -I "${PROJECT_SOURCE_DIR}"
                "${PROJECT_SOURCE_DIR}/cmake/processor_probe.cpp"
                "${PROJECT_SOURCE_DIR}/startup/processor_features.cpp"
                "${PROJECT_SOURCE_DIR}/startup/processor_ids.cpp" -o "${_probe_dir}/${_level}"
        RESULT_VARIABLE _compiled ERROR_VARIABLE _compile_output)
    if(NOT _compiled EQUAL 0)
      message(FATAL_ERROR "The processor probe for ${_level} does not compile:\n${_compile_output}")
    endif()
    # A processor without the level's instructions may also end the probe with SIGILL: just as
    # clear an answer.
    execute_process(COMMAND "${_probe_dir}/${_level}" RESULT_VARIABLE _runs OUTPUT_QUIET ERROR_QUIET)
    if(_runs STREQUAL "0")
      set(KELVOR_MACHINE_CPU ${_level} CACHE STRING "The processor level that the tests run at (found by a probe)")
      break()
    endif()
  endforeach()
  if(NOT KELVOR_MACHINE_CPU)
    message(FATAL_ERROR "This machine's processor runs none of the levels ${KELVOR_CPU_LEVELS}.")
  endif()
endif()
if(NOT KELVOR_MACHINE_CPU IN_LIST KELVOR_CPU_LEVELS)
  message(FATAL_ERROR "KELVOR_MACHINE_CPU is '${KELVOR_MACHINE_CPU}': one of ${KELVOR_CPU_LEVELS}")
endif()
message(STATUS "Processor level of the tests: ${KELVOR_MACHINE_CPU}")
