# Script mode: cmake -DINPUTS=a.asm;b.asm -DOUTPUT=examples.cpp -P embed_examples.cmake
# Writes the definition of Studio::examples() (studio/examples.hpp) holding the files' text.
set(arrays "")
set(entries "")
set(index 0)
foreach(file IN LISTS INPUTS)
    file(READ "${file}" content HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
    string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
    string(LENGTH "${content}" digits)
    math(EXPR size "${digits} / 2")
    cmake_path(GET file FILENAME name)
    string(APPEND arrays "constexpr char text_${index}[] = {\n    ${bytes}0};\n")
    string(APPEND entries "    {\"${name}\", {text_${index}, ${size}}},\n")
    math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUTS}; do not edit.
#include \"studio/examples.hpp\"

namespace Studio {

namespace {
${arrays}
constexpr Example all[] = {
${entries}};
} // namespace

std::span<const Example> examples() { return all; }

} // namespace Studio
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
