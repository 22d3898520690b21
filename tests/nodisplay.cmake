# Started without any display, brivela says so in one line on standard error
# and ends with status 1: no window, no core dump, nothing on standard output.
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=QT_QPA_PLATFORM --unset=DISPLAY --unset=WAYLAND_DISPLAY ${PROGRAM}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    TIMEOUT 60)
if(NOT status STREQUAL "1")
    message(FATAL_ERROR "exit status ${status}, expected 1; stderr: ${err}")
endif()
if(NOT err MATCHES "^brivela: no display found[^\n]*\n$")
    message(FATAL_ERROR "expected one line saying no display was found, got: ${err}")
endif()
if(NOT out STREQUAL "")
    message(FATAL_ERROR "expected nothing on standard output, got: ${out}")
endif()
