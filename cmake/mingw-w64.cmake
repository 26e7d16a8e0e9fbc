# What both MinGW-w64 toolchains share; DISCHARGE_CROSS_TRIPLE names the
# compiler. The compilers of the POSIX thread model are used, whose standard
# library has std::mutex, which GoogleTest needs. Everything is linked
# statically: the programs import only DLLs of Windows itself (kernel32.dll,
# msvcrt.dll), none of libgcc, libstdc++ or the thread library.
set(CMAKE_C_COMPILER ${DISCHARGE_CROSS_TRIPLE}-gcc-posix)  # GoogleTest builds some C
set(CMAKE_CXX_COMPILER ${DISCHARGE_CROSS_TRIPLE}-g++-posix)
set(CMAKE_FIND_ROOT_PATH /usr/${DISCHARGE_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Programs built here run under wine, in a wine prefix of the build's own.
# The wine command starts a 64-bit program in a process of its own; wine's
# 64-bit loader runs it in the process started, which tests send signals to.
if(DISCHARGE_CROSS_TRIPLE MATCHES "^x86_64")
    find_program(DISCHARGE_WINE_LOADER NAMES wine64 PATHS /usr/lib/wine REQUIRED)
else()
    find_program(DISCHARGE_WINE_LOADER NAMES wine REQUIRED)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/run-under-wine.sh
    ${DISCHARGE_WINE_LOADER} ${CMAKE_BINARY_DIR}/wine-prefix)
