# Cross build for 64-bit Arm Linux (aarch64-linux-gnu), tested under
# qemu-user with Debian's cross libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(DISCHARGE_CROSS_TRIPLE aarch64-linux-gnu)
set(DISCHARGE_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
