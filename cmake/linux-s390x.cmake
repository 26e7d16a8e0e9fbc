# Cross build for IBM Z Linux (s390x-linux-gnu), the big-endian target,
# tested under qemu-user with Debian's cross libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(DISCHARGE_CROSS_TRIPLE s390x-linux-gnu)
set(DISCHARGE_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
