# Fails unless the Windows program PROGRAM imports only DLLs that every
# Windows has, as listed by OBJDUMP: a program that needs the compiler's
# runtime DLLs (libstdc++, libgcc, winpthread) does not start on a machine
# without them.
#
#   cmake -DOBJDUMP=... -DPROGRAM=... -P check-windows-imports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot read the headers of ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${headers}")
if(NOT imports)
    message(FATAL_ERROR "${PROGRAM} imports no DLL at all: not a Windows program?")
endif()
foreach(import IN LISTS imports)
    string(REPLACE "DLL Name: " "" dll "${import}")
    string(TOLOWER "${dll}" dll)
    if(NOT dll MATCHES "^(kernel32|msvcrt|advapi32|user32|ucrtbase|api-ms-win-.*)\\.dll$")
        message(FATAL_ERROR "${PROGRAM} imports ${dll}, which Windows does not have")
    endif()
    message(STATUS "${PROGRAM} imports ${dll}")
endforeach()
