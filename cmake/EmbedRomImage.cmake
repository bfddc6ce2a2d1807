# Script mode: cmake -DINPUTS=a;b -DOUTPUT=file.cpp -DNAME=identifier -DSIZE=bytes -P this file.
include(${CMAKE_CURRENT_LIST_DIR}/RomImage.cmake)
rom_image_check(${SIZE} ${INPUTS})

set(hex "")
foreach(file IN LISTS INPUTS)
    file(READ "${file}" content HEX)
    string(APPEND hex "${content}")
endforeach()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")

file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUTS}; do not edit.
#include \"machine/board.hpp\"

namespace Drovask {

namespace {
constexpr std::array<std::uint8_t, ${SIZE}> ${NAME}_bytes{
    ${bytes}
};
} // namespace

Rom ${NAME}() { return ${NAME}_bytes; }

} // namespace Drovask
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
