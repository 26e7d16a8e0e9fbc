# GIF animations (image_renderer/gif_image.cpp), for discharge_term alone:
# the dialogue programs stay on the standard library. Included at the end of
# image_renderer/CMakeLists.txt; defines the library gif_image where giflib
# is found, and leaves it undefined otherwise.
#
# The native Linux build links Debian's shared libgif7 (libgif-dev), which
# the Debian package then depends on. A cross build compiles giflib's
# encoder and decoder from Debian's source package into a static library
# (giflib-from-source.cmake), as it does netCDF, so that the programs stay
# self-contained: the Windows programs import only Windows' own DLLs, and
# the Linux ones run under qemu-user with no library beyond the cross
# compiler's.
if(CMAKE_CROSSCOMPILING)
    include(${CMAKE_CURRENT_LIST_DIR}/giflib-from-source.cmake)
    set(gif_library "")
    if(TARGET giflib)
        set(gif_library giflib)
    endif()
else()
    # The API of giflib 5 (EGifOpen with an error code, graphics control
    # blocks); Debian 12 has 5.2.
    find_package(GIF 5)
    set(gif_library "")
    if(GIF_FOUND)
        set(gif_library GIF::GIF)
    endif()
endif()

if(NOT gif_library)
    message(STATUS "giflib not found (Debian: libgif-dev; for a cross build "
        "tools/fetch_giflib_source.sh): no GIF animations")
    return()
endif()

add_library(gif_image STATIC ${PROJECT_SOURCE_DIR}/image_renderer/gif_image.cpp)
# Public: the tests read the animations back with giflib's own decoder.
target_link_libraries(gif_image PUBLIC image_renderer ${gif_library})
