# What the Linux cross toolchains share; DISCHARGE_CROSS_TRIPLE names the
# compiler and DISCHARGE_QEMU the user-mode emulator that runs its programs.
set(CMAKE_C_COMPILER ${DISCHARGE_CROSS_TRIPLE}-gcc)  # GoogleTest builds some C
set(CMAKE_CXX_COMPILER ${DISCHARGE_CROSS_TRIPLE}-g++)
# The target's libraries: the cross compiler's, and in /usr/local/<triple> those
# that Debian has no cross package of (zlib, which .ci/run unpacks there).
set(CMAKE_FIND_ROOT_PATH /usr/${DISCHARGE_CROSS_TRIPLE} /usr/local/${DISCHARGE_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DISCHARGE_QEMU} -L /usr/${DISCHARGE_CROSS_TRIPLE})
