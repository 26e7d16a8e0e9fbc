# Cross build for 32-bit Windows with Debian's MinGW-w64 (i686-w64-mingw32).
# The programs are linked statically, so that they need no DLL beyond those
# of Windows itself, and their tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(DISCHARGE_CROSS_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
