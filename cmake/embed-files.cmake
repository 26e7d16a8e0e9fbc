# Writes a C++ source that holds files as byte arrays, so that a program
# carries them without reading them at run time:
#
#   cmake -D OUTPUT=page.cpp -D HEADER=term_view.h -D ARRAY=VIEW_PAGE_FILES
#         -D FILES="a.html;b.js" -P embed-files.cmake
#
# ARRAY is defined as an array of PageFile {name, bytes}, one for each file,
# named by its file name, in the order given. Other files than the view page's
# name their own struct of the same two members in TYPE, and say what they are
# in ORIGIN (for the first line of the source).
if(NOT DEFINED TYPE)
    set(TYPE PageFile)
endif()
if(NOT DEFINED ORIGIN)
    set(ORIGIN "the page's sources")
endif()
set(source "// Written by cmake/embed-files.cmake from ${ORIGIN}: do not edit.\n")
string(APPEND source "#include \"${HEADER}\"\n\nnamespace {\n")
set(index 0)
set(entries "")
foreach(file IN LISTS FILES)
    file(READ ${file} hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n" bytes "${bytes}")
    string(APPEND source "const unsigned char file_${index}[] = {\n${bytes}0};\n")
    get_filename_component(name ${file} NAME)
    string(APPEND entries "    {\"${name}\", {reinterpret_cast<const char*>(file_${index}), ${size}}},\n")
    math(EXPR index "${index} + 1")
endforeach()
string(APPEND source "}  // namespace\n\nconst ${TYPE} ${ARRAY}[${index}] = {\n${entries}};\n")
file(WRITE ${OUTPUT}.new "${source}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
