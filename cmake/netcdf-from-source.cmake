# The netCDF C library for the target of a cross build that has no package
# of it: Debian has none for MinGW-w64, and its packages for the Linux cross
# targets cannot always be installed beside the build machine's (.ci/run
# tells why of zlib's). It is built here, at configure time, from Debian's
# source package with Debian's patches applied (tools/fetch_netcdf_source.sh,
# run by .ci/run, unpacks it in /usr/local/src/netcdf), with the build's own toolchain file, into the
# build tree, as a static library: the programs stay self-contained. It is
# compiled with its own flags, apart from this project's: its warnings are
# logged, never errors.
#
# Only the classic formats are built in: no netCDF-4 (it needs HDF5), no
# remote access (DAP, byte ranges, NCZarr), no plugins, no utilities, no
# tests. Nor CDF5, whose 64-bit data need a 64-bit size_t: off for every
# target, so that 32-bit and 64-bit builds write the same files. zlib is left
# out as well, since the classic formats do not compress.
#
# The library is built once; a stamp in its install folder records how, and
# it is built anew only when that changes (another source, version, patch,
# toolchain or set of options). The build's log stays beside it.
#
# Included from term_runner/CMakeLists.txt; sets netCDF_FOUND and the
# imported target netCDF::netcdf where the sources are found, and leaves
# netCDF_FOUND false otherwise.
file(GLOB netcdf_unpacked LIST_DIRECTORIES true /usr/local/src/netcdf/netcdf-*)
find_path(DISCHARGE_NETCDF_SOURCE NAMES include/netcdf.h PATHS ${netcdf_unpacked}
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
    DOC "Debian's netCDF sources, unpacked, built for the target of a cross build without netCDF")
if(NOT EXISTS ${DISCHARGE_NETCDF_SOURCE}/CMakeLists.txt)
    message(STATUS "No netCDF sources for the target (tools/fetch_netcdf_source.sh unpacks "
        "Debian's in /usr/local/src/netcdf; or set DISCHARGE_NETCDF_SOURCE)")
    return()
endif()

# The version, as the sources' own build states it.
file(STRINGS ${DISCHARGE_NETCDF_SOURCE}/CMakeLists.txt netcdf_version_lines
    REGEX "^SET\\(NC_VERSION_(MAJOR|MINOR|PATCH) [0-9]+\\)")
set(netcdf_version "")
foreach(line IN LISTS netcdf_version_lines)
    string(REGEX REPLACE "^SET\\(NC_VERSION_[A-Z]+ ([0-9]+)\\)" "\\1" number "${line}")
    list(APPEND netcdf_version ${number})
endforeach()
list(JOIN netcdf_version "." netcdf_version)
if(NOT netcdf_version MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "No netCDF version in ${DISCHARGE_NETCDF_SOURCE}/CMakeLists.txt")
endif()

# netCDF 4.9.0 neither compiles nor links without netCDF-4: the patch makes it.
# A version without a patch here is built as it is.
set(netcdf_patch ${CMAKE_CURRENT_LIST_DIR}/netcdf-${netcdf_version}-no-netcdf4.patch)
set(netcdf_patch_hash "")
if(EXISTS ${netcdf_patch})
    file(SHA256 ${netcdf_patch} netcdf_patch_hash)
    # A changed patch configures the build again, which builds anew.
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${netcdf_patch})
else()
    set(netcdf_patch "")
endif()

set(netcdf_work ${CMAKE_BINARY_DIR}/netcdf)
set(netcdf_prefix ${netcdf_work}/install)
set(netcdf_log ${netcdf_work}/build.log)
set(netcdf_options
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=${netcdf_prefix}
    -DCMAKE_INSTALL_LIBDIR=lib
    -DBUILD_SHARED_LIBS=OFF
    -DENABLE_NETCDF_4=OFF -DENABLE_NETCDF4=OFF -DENABLE_HDF5=OFF -DENABLE_HDF4=OFF
    -DENABLE_CDF5=OFF -DENABLE_PNETCDF=OFF -DENABLE_PARALLEL4=OFF
    -DENABLE_DAP=OFF -DENABLE_BYTERANGE=OFF -DENABLE_NCZARR=OFF -DENABLE_NCZARR_S3=OFF
    -DENABLE_NCZARR_FILTERS=OFF -DENABLE_PLUGINS=OFF -DENABLE_LIBXML2=OFF
    -DCMAKE_DISABLE_FIND_PACKAGE_ZLIB=ON
    -DBUILD_UTILITIES=OFF -DENABLE_EXAMPLES=OFF -DENABLE_TESTS=OFF
    -DENABLE_FILTER_TESTING=OFF -DENABLE_NCZARR_FILTERS_TESTING=OFF -DENABLE_DOXYGEN=OFF)
if(WIN32)
    list(APPEND netcdf_options -DENABLE_DLL=OFF)
endif()
string(JOIN "\n" netcdf_recipe
    "source ${DISCHARGE_NETCDF_SOURCE}"
    "version ${netcdf_version}"
    "patch ${netcdf_patch} ${netcdf_patch_hash}"
    "toolchain ${CMAKE_TOOLCHAIN_FILE}"
    "compiler ${CMAKE_C_COMPILER}"
    "generator ${CMAKE_GENERATOR}"
    "options ${netcdf_options}"
    "")

set(netcdf_stamp ${netcdf_prefix}/built-with.txt)
set(netcdf_built "")
if(EXISTS ${netcdf_stamp})
    file(READ ${netcdf_stamp} netcdf_built)
endif()
if(NOT netcdf_built STREQUAL netcdf_recipe)
    string(TIMESTAMP netcdf_start %s)
    message(STATUS "Building netCDF ${netcdf_version} for the target from "
        "${DISCHARGE_NETCDF_SOURCE} (log: ${netcdf_log})")
    file(REMOVE_RECURSE ${netcdf_work})
    file(MAKE_DIRECTORY ${netcdf_work})
    file(COPY ${DISCHARGE_NETCDF_SOURCE}/ DESTINATION ${netcdf_work}/source)

    # Each step's output goes to the log; a step that fails ends the
    # configuration with the log's end.
    function(netcdf_step what)
        execute_process(COMMAND ${ARGN}
            WORKING_DIRECTORY ${netcdf_work}/source
            OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE status)
        file(APPEND ${netcdf_log} "==== ${what}\n${output}")
        if(NOT status EQUAL 0)
            string(LENGTH "${output}" length)
            if(length GREATER 4000)
                math(EXPR start "${length} - 4000")
                string(SUBSTRING "${output}" ${start} -1 output)
            endif()
            message(FATAL_ERROR "netCDF: ${what} failed (${status}); its output ends:\n"
                "${output}\nThe whole log: ${netcdf_log}")
        endif()
    endfunction()

    if(netcdf_patch)
        find_program(DISCHARGE_PATCH patch REQUIRED)
        netcdf_step("patching"
            ${DISCHARGE_PATCH} -p1 --forward --batch --input=${netcdf_patch})
    endif()
    # Its own build, not a part of this one's make jobs (configuring again
    # from the build may run under make).
    cmake_host_system_information(RESULT jobs QUERY NUMBER_OF_LOGICAL_CORES)
    set(build_env ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS)
    netcdf_step("configuring"
        ${build_env} ${CMAKE_COMMAND} -S ${netcdf_work}/source -B ${netcdf_work}/build
            -G ${CMAKE_GENERATOR} --no-warn-unused-cli
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} ${netcdf_options})
    netcdf_step("building"
        ${build_env} ${CMAKE_COMMAND} --build ${netcdf_work}/build --parallel ${jobs})
    netcdf_step("installing" ${CMAKE_COMMAND} --install ${netcdf_work}/build)
    # Only the library is kept: the sources and objects take a hundred MB.
    file(REMOVE_RECURSE ${netcdf_work}/source ${netcdf_work}/build)
    file(WRITE ${netcdf_stamp} "${netcdf_recipe}")
    string(TIMESTAMP netcdf_end %s)
    math(EXPR seconds "${netcdf_end} - ${netcdf_start}")
    message(STATUS "Built netCDF ${netcdf_version} for the target in ${seconds} s")
endif()

# The library built here, found where it is: the toolchains search the
# target's root alone for packages.
find_package(netCDF CONFIG REQUIRED PATHS ${netcdf_prefix} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
# Not kept in the cache, so that the next configuration looks for the
# target's own package again and then comes here, to the stamp's check.
unset(netCDF_DIR CACHE)
