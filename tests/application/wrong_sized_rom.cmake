# Script mode: cmake -DROM_IMAGE_MODULE=.../RomImage.cmake -DWORK=dir -P wrong_sized_rom.cmake
# The ROM image check refuses files that do not come to 8192 bytes, naming each file, its size
# and the total, refuses a directory and an empty entry in the list, and accepts files that do.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
string(REPEAT "x" 4096 half)
file(WRITE "${WORK}/first.bin" "${half}")
file(WRITE "${WORK}/second.bin" "${half}y")
file(WRITE "${WORK}/check.cmake" "include(\"${ROM_IMAGE_MODULE}\")
rom_image_files(files \"\${FILES}\" \"${WORK}\")
rom_image_check(8192 \${files})\n")

function(run_check files)
    execute_process(COMMAND "${CMAKE_COMMAND}" "-DFILES=${files}" -P "${WORK}/check.cmake"
                    RESULT_VARIABLE result ERROR_VARIABLE error)
    # CMake wraps long messages: compare with every run of white space made one space.
    string(REGEX REPLACE "[ \t\n]+" " " error "${error}")
    set(result "${result}" PARENT_SCOPE)
    set(error "${error}" PARENT_SCOPE)
endfunction()

run_check("${WORK}/first.bin;${WORK}/second.bin")
if(result EQUAL 0)
    message(FATAL_ERROR "A ROM image of 8193 bytes was accepted.")
endif()
foreach(expected "first.bin: 4096 bytes" "second.bin: 4097 bytes" "total: 8193 bytes"
                 "exactly 8192 bytes")
    string(FIND "${error}" "${expected}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "The refusal does not say \"${expected}\":\n${error}")
    endif()
endforeach()

run_check("${WORK}/missing.bin")
string(FIND "${error}" "missing.bin\" does not exist" found)
if(result EQUAL 0 OR found EQUAL -1)
    message(FATAL_ERROR "A missing ROM image file was not reported:\n${error}")
endif()

# Each entry that cannot be an image says what is wrong with it.
file(MAKE_DIRECTORY "${WORK}/somedir")
foreach(case "somedir|somedir\" is a directory"
             "first.bin\;\;second.bin|has an empty entry (entry 2)"
             "\;first.bin|has an empty entry (entry 1)")
    string(REPLACE "|" ";" case "${case}")
    list(GET case 0 files)
    list(GET case 1 expected)
    run_check("${files}")
    string(FIND "${error}" "${expected}" found)
    if(result EQUAL 0 OR found EQUAL -1)
        message(FATAL_ERROR "\"${files}\" was not refused with \"${expected}\":\n${error}")
    endif()
endforeach()

file(WRITE "${WORK}/second.bin" "${half}")
run_check("${WORK}/first.bin;${WORK}/second.bin")
if(NOT result EQUAL 0)
    message(FATAL_ERROR "Two files of 4096 bytes were refused:\n${error}")
endif()
message(STATUS "ROM image size check: refuses 8193 bytes, a missing file, a directory, an empty "
               "entry; accepts 8192 bytes")
