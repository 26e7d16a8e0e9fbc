# Fails unless the manual page PAGE renders without a warning:
#
#   cmake -DGROFF=... -DPAGE=... -P check-manual-page.cmake
execute_process(COMMAND ${GROFF} -man -ww -z ${PAGE}
    OUTPUT_VARIABLE output ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "${PAGE} does not render cleanly (status ${status}):\n${warnings}")
endif()
