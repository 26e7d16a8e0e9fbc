# The end-to-end tests of a cross build: the project is configured once more
# for the build machine, where only the test program is built, set to start
# this build's programs through the target's emulator. Its tests join this
# build's.
include(ExternalProject)
string(REPLACE ";" "|" launcher "${CMAKE_CROSSCOMPILING_EMULATOR}")
if(WIN32)
    set(on_windows ON)
else()
    set(on_windows OFF)
endif()
set(harness_dir ${CMAKE_CURRENT_BINARY_DIR}/harness)
ExternalProject_Add(end_to_end_harness
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${harness_dir}
    LIST_SEPARATOR |
    CMAKE_ARGS
        -DCMAKE_BUILD_TYPE=Release
        -DDISCHARGE_WERROR=${DISCHARGE_WERROR}
        -DDISCHARGE_BUILD_TESTS=ON
        -DDISCHARGE_TEST_IMAGE_PROGRAM=$<TARGET_FILE:discharge_image>
        -DDISCHARGE_TEST_SERIES_PROGRAM=$<TARGET_FILE:discharge_series>
        -DDISCHARGE_TEST_TERM_PROGRAM=$<TARGET_FILE:discharge_term>
        -DDISCHARGE_TEST_LAUNCHER=${launcher}
        -DDISCHARGE_TEST_ON_WINDOWS=${on_windows}
    # A build of its own, not a part of this build's make jobs.
    BUILD_COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS
        ${CMAKE_COMMAND} --build <BINARY_DIR> --target end_to_end_tests --parallel 2
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${harness_dir}/tests/end_to_end_tests
)
add_executable(end_to_end_tests IMPORTED GLOBAL)
set_target_properties(end_to_end_tests PROPERTIES
    IMPORTED_LOCATION ${harness_dir}/tests/end_to_end_tests
    CROSSCOMPILING_EMULATOR "")
add_dependencies(end_to_end_tests end_to_end_harness)
gtest_discover_tests(end_to_end_tests DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT 900 ${test_properties})
