# Cross build for 64-bit Windows with Debian's MinGW-w64 (x86_64-w64-mingw32),
# linked statically and tested under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(DISCHARGE_CROSS_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
