# Text in a real font for annotated pictures (image_renderer/text_drawing.*):
# DejaVu Sans (Debian's fonts-dejavu-core), built into the program as a byte
# array, and rasterised as it is drawn by stb_truetype (Debian's header-only
# libstb-dev). Both are files of the build machine, also for a cross build:
# the font is data, the header plain C that every compiler takes, and
# stb_truetype computes in float arithmetic, which gives the same bytes on
# every target (-ffp-contract=off, SSE2 on 32-bit x86, see CMakeLists.txt).
# Without either the library is not built, and says so.
# Included at the end of image_renderer/CMakeLists.txt.
find_file(DISCHARGE_TEXT_FONT DejaVuSans.ttf
    PATHS /usr/share/fonts/truetype/dejavu NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_file(DISCHARGE_STB_TRUETYPE stb_truetype.h
    PATHS /usr/include/stb NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT DISCHARGE_TEXT_FONT)
    message(STATUS "DejaVu Sans not found (Debian: fonts-dejavu-core): no text drawing")
    return()
endif()
if(NOT DISCHARGE_STB_TRUETYPE)
    message(STATUS "stb_truetype not found (Debian: libstb-dev): no text drawing")
    return()
endif()

# The header reaches the compiler through a folder that holds it alone, so
# that a cross compiler never sees the build machine's other headers.
set(text_drawing_dir ${CMAKE_CURRENT_BINARY_DIR}/text_drawing)
file(MAKE_DIRECTORY ${text_drawing_dir}/stb)
file(CREATE_LINK ${DISCHARGE_STB_TRUETYPE} ${text_drawing_dir}/stb/stb_truetype.h SYMBOLIC)

# The font as an array of one embedded file, declared by a header of its own.
file(CONFIGURE OUTPUT ${text_drawing_dir}/text_font.h CONTENT
"// Written by cmake/glyphs.cmake: the font that text is drawn in, built into
// the program (text_font.cpp, from cmake/embed-files.cmake). Do not edit.
#ifndef DISCHARGE_TEXT_FONT_H
#define DISCHARGE_TEXT_FONT_H

#include <string_view>

struct EmbeddedFile {
    const char* name;
    std::string_view bytes;
};
extern const EmbeddedFile TEXT_FONT_FILES[1];

#endif  // DISCHARGE_TEXT_FONT_H
")
add_custom_command(
    OUTPUT ${text_drawing_dir}/text_font.cpp
    COMMAND ${CMAKE_COMMAND} -D OUTPUT=${text_drawing_dir}/text_font.cpp
            -D HEADER=text_font.h -D ARRAY=TEXT_FONT_FILES -D TYPE=EmbeddedFile
            "-D ORIGIN=the font file" "-D FILES=${DISCHARGE_TEXT_FONT}"
            -P ${PROJECT_SOURCE_DIR}/cmake/embed-files.cmake
    DEPENDS ${DISCHARGE_TEXT_FONT} ${PROJECT_SOURCE_DIR}/cmake/embed-files.cmake
    VERBATIM)

add_library(text_drawing STATIC
    ${PROJECT_SOURCE_DIR}/image_renderer/text_drawing.cpp
    ${text_drawing_dir}/text_font.cpp)
target_include_directories(text_drawing PUBLIC ${PROJECT_SOURCE_DIR}/image_renderer)
target_include_directories(text_drawing SYSTEM PRIVATE ${text_drawing_dir})
target_link_libraries(text_drawing PUBLIC image_renderer)
