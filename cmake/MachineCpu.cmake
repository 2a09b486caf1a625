# KELVOR_MACHINE_CPU: the highest processor level that this machine runs, found once at
# configure time from the processor itself: a probe compiled for each level in turn, run under
# Wine, answers whether CPUID and XGETBV offer what that level needs. The tests run at this
# level, so the suite passes on any x86-64 machine. Set it on the command line to test a lower
# level.
if(NOT KELVOR_MACHINE_CPU)
  execute_process(COMMAND "${CMAKE_BINARY_DIR}/wine/wine-prefix" start COMMAND_ERROR_IS_FATAL ANY)
  foreach(_level IN LISTS KELVOR_CPU_LEVELS)
    kelvor_cpu_flags(_flags ${_level})
    try_run(_runs _compiles "${CMAKE_BINARY_DIR}/processor-probe/${_level}"
        SOURCES "${PROJECT_SOURCE_DIR}/cmake/processor_probe.cpp"
                "${PROJECT_SOURCE_DIR}/bootstrap/processor_features.cpp"
                "${PROJECT_SOURCE_DIR}/bootstrap/processor_ids.cpp"
        CMAKE_FLAGS "-DINCLUDE_DIRECTORIES=${PROJECT_SOURCE_DIR}"
        COMPILE_DEFINITIONS ${_flags}
        COMPILE_OUTPUT_VARIABLE _compile_output)
    if(NOT _compiles)
      message(FATAL_ERROR "The processor probe for ${_level} does not compile:\n${_compile_output}")
    endif()
    if(_runs EQUAL 0)
      set(KELVOR_MACHINE_CPU ${_level} CACHE STRING "The processor level that the tests run at (found by a probe)")
      break()
    endif()
  endforeach()
  execute_process(COMMAND "${CMAKE_BINARY_DIR}/wine/wine-prefix" stop)
  if(NOT KELVOR_MACHINE_CPU)
    message(FATAL_ERROR "This machine's processor runs none of the levels ${KELVOR_CPU_LEVELS} under Wine.")
  endif()
endif()
if(NOT KELVOR_MACHINE_CPU IN_LIST KELVOR_CPU_LEVELS)
  message(FATAL_ERROR "KELVOR_MACHINE_CPU is '${KELVOR_MACHINE_CPU}': one of ${KELVOR_CPU_LEVELS}")
endif()
message(STATUS "Processor level of the tests: ${KELVOR_MACHINE_CPU}")
