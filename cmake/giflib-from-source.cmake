# giflib for the target of a cross build that has no package of it: Debian
# has none for MinGW-w64, and its packages for the Linux cross targets cannot
# always be installed beside the build machine's (.ci/run tells why of
# zlib's). Its encoder and decoder, a handful of C files, are compiled here,
# at configure time, from Debian's source package with Debian's patches
# applied (tools/fetch_giflib_source.sh, run by .ci/run, unpacks it in
# /usr/local/src/giflib), with the build's own toolchain file, into the build
# tree, as a static library. It is a small project of its own, in C, with
# giflib's own flags (those of its Makefile) apart from this project's: its
# warnings are logged, never errors. Not built: the colour quantizer, the
# font drawing and the utilities.
#
# The library is built once; a stamp beside it records how (the sources'
# checksums among it), and it is built anew only when that changes. The
# build's log stays beside it.
#
# Included from giflib.cmake; defines the imported target giflib where the
# sources are found, and nothing otherwise.
file(GLOB giflib_unpacked LIST_DIRECTORIES true /usr/local/src/giflib/giflib-*)
find_path(DISCHARGE_GIFLIB_SOURCE NAMES gif_lib.h egif_lib.c PATHS ${giflib_unpacked}
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
    DOC "Debian's giflib sources, unpacked, built for the target of a cross build")
set(giflib_sources dgif_lib.c egif_lib.c gifalloc.c gif_err.c gif_hash.c openbsd-reallocarray.c)
set(giflib_files gif_lib.h gif_lib_private.h gif_hash.h ${giflib_sources})
foreach(file IN LISTS giflib_files)
    if(NOT EXISTS ${DISCHARGE_GIFLIB_SOURCE}/${file})
        message(STATUS "No giflib sources for the target (tools/fetch_giflib_source.sh unpacks "
            "Debian's in /usr/local/src/giflib; or set DISCHARGE_GIFLIB_SOURCE)")
        return()
    endif()
endforeach()

# The version, as its header states it.
file(STRINGS ${DISCHARGE_GIFLIB_SOURCE}/gif_lib.h giflib_version_lines
    REGEX "^#define GIFLIB_(MAJOR|MINOR|RELEASE) [0-9]+")
set(giflib_version "")
foreach(line IN LISTS giflib_version_lines)
    string(REGEX REPLACE "^#define GIFLIB_[A-Z]+ ([0-9]+).*" "\\1" number "${line}")
    list(APPEND giflib_version ${number})
endforeach()
list(JOIN giflib_version "." giflib_version)
if(NOT giflib_version MATCHES "^5\\.[0-9]+\\.[0-9]+$")
    message(STATUS "giflib ${giflib_version} in ${DISCHARGE_GIFLIB_SOURCE} is not giflib 5")
    return()
endif()

set(giflib_work ${CMAKE_BINARY_DIR}/giflib)
set(giflib_prefix ${giflib_work}/install)
set(giflib_log ${giflib_work}/build.log)
set(giflib_recipe "source ${DISCHARGE_GIFLIB_SOURCE}\nversion ${giflib_version}\n")
foreach(file IN LISTS giflib_files)
    file(SHA256 ${DISCHARGE_GIFLIB_SOURCE}/${file} hash)
    string(APPEND giflib_recipe "${file} ${hash}\n")
endforeach()
string(APPEND giflib_recipe "toolchain ${CMAKE_TOOLCHAIN_FILE}\n"
    "compiler ${CMAKE_C_COMPILER}\ngenerator ${CMAKE_GENERATOR}\n")

# The project that builds it: C99 with GNU extensions and -O2, as giflib's
# Makefile builds it, its library and header installed.
list(TRANSFORM giflib_sources PREPEND ${DISCHARGE_GIFLIB_SOURCE}/ OUTPUT_VARIABLE giflib_paths)
string(JOIN "\n" giflib_project
    "cmake_minimum_required(VERSION 3.25)"
    "project(giflib VERSION ${giflib_version} LANGUAGES C)"
    "add_library(gif STATIC ${giflib_paths})"
    "set_target_properties(gif PROPERTIES C_STANDARD 99 C_EXTENSIONS ON)"
    "target_compile_options(gif PRIVATE -O2 -Wall -Wno-format-truncation)"
    "install(TARGETS gif ARCHIVE DESTINATION lib)"
    "install(FILES ${DISCHARGE_GIFLIB_SOURCE}/gif_lib.h DESTINATION include)"
    "")
string(APPEND giflib_recipe "project\n${giflib_project}")

set(giflib_stamp ${giflib_prefix}/built-with.txt)
set(giflib_built "")
if(EXISTS ${giflib_stamp})
    file(READ ${giflib_stamp} giflib_built)
endif()
if(NOT giflib_built STREQUAL giflib_recipe)
    message(STATUS "Building giflib ${giflib_version} for the target from "
        "${DISCHARGE_GIFLIB_SOURCE} (log: ${giflib_log})")
    file(REMOVE_RECURSE ${giflib_work})
    file(WRITE ${giflib_work}/project/CMakeLists.txt "${giflib_project}")
    # Each step's output goes to the log; a step that fails ends the
    # configuration with the log's end. Its own build, not a part of this
    # one's make jobs (configuring again from the build may run under make).
    set(build_env ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS)
    foreach(step configuring building installing)
        if(step STREQUAL "configuring")
            set(command ${build_env} ${CMAKE_COMMAND} -S ${giflib_work}/project
                -B ${giflib_work}/build -G ${CMAKE_GENERATOR} -DCMAKE_BUILD_TYPE=Release
                -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
                -DCMAKE_INSTALL_PREFIX=${giflib_prefix})
        elseif(step STREQUAL "building")
            set(command ${build_env} ${CMAKE_COMMAND} --build ${giflib_work}/build)
        else()
            set(command ${CMAKE_COMMAND} --install ${giflib_work}/build)
        endif()
        execute_process(COMMAND ${command} OUTPUT_VARIABLE output ERROR_VARIABLE output
            RESULT_VARIABLE status)
        file(APPEND ${giflib_log} "==== ${step}\n${output}")
        if(NOT status EQUAL 0)
            message(FATAL_ERROR "giflib: ${step} failed (${status}); its output:\n"
                "${output}\nThe whole log: ${giflib_log}")
        endif()
    endforeach()
    file(REMOVE_RECURSE ${giflib_work}/build)
    file(WRITE ${giflib_stamp} "${giflib_recipe}")
endif()

# The library built here, where it is: the toolchains search the target's
# root alone.
add_library(giflib STATIC IMPORTED)
set_target_properties(giflib PROPERTIES
    IMPORTED_LOCATION ${giflib_prefix}/lib/${CMAKE_STATIC_LIBRARY_PREFIX}gif${CMAKE_STATIC_LIBRARY_SUFFIX}
    INTERFACE_INCLUDE_DIRECTORIES ${giflib_prefix}/include)
