# Program ROM images: checking their size at configure time and embedding them as C++ arrays.

# Sets OUTPUT_VARIABLE to the files of ROM_LIST (one file, or a list of files concatenated in
# order), each made absolute from BASE_DIRECTORY. Stops at an empty entry, such as the middle of
# "a.bin;;b.bin", which would otherwise stand for BASE_DIRECTORY itself.
function(rom_image_files output_variable rom_list base_directory)
    set(files "")
    set(position 0)
    foreach(file IN LISTS rom_list)
        math(EXPR position "${position} + 1")
        if(file STREQUAL "")
            message(FATAL_ERROR "The ROM image list \"${rom_list}\" has an empty entry (entry "
                                "${position}). Remove the extra ';' or name the file there.")
        endif()
        cmake_path(ABSOLUTE_PATH file BASE_DIRECTORY ${base_directory} NORMALIZE)
        list(APPEND files ${file})
    endforeach()
    set(${output_variable} ${files} PARENT_SCOPE)
endfunction()

# Stops with a message naming each file, its size and the total unless the files exist and
# together come to exactly EXPECTED_SIZE bytes.
function(rom_image_check expected_size)
    set(files ${ARGN})
    if(NOT files)
        message(FATAL_ERROR "No ROM image given: name one file, or a list of files that are "
                            "concatenated in order, of ${expected_size} bytes in all.")
    endif()
    set(total 0)
    set(report "")
    foreach(file IN LISTS files)
        if(IS_DIRECTORY "${file}")
            message(FATAL_ERROR "The ROM image file \"${file}\" is a directory. Give the path of "
                                "the image file itself.")
        elseif(NOT EXISTS "${file}")
            message(FATAL_ERROR "The ROM image file \"${file}\" does not exist. Give the full path "
                                "of an existing file.")
        endif()
        file(SIZE "${file}" size)
        math(EXPR total "${total} + ${size}")
        string(APPEND report "\n  ${file}: ${size} bytes")
    endforeach()
    if(NOT total EQUAL expected_size)
        message(FATAL_ERROR "The ROM image must come to exactly ${expected_size} bytes, but these "
                            "files come to ${total}:${report}\n  total: ${total} bytes")
    endif()
endfunction()

# Writes OUTPUT, a C++ source that defines `Drovask::Rom NAME()` returning the concatenated bytes of
# INPUTS, at build time; it is rewritten whenever an input changes.
function(rom_image_embed)
    cmake_parse_arguments(ARG "" "OUTPUT;NAME;SIZE" "INPUTS;DEPENDS" ${ARGN})
    set(script ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/EmbedRomImage.cmake)
    add_custom_command(
        OUTPUT ${ARG_OUTPUT}
        COMMAND ${CMAKE_COMMAND} "-DINPUTS=${ARG_INPUTS}" -DOUTPUT=${ARG_OUTPUT}
                -DNAME=${ARG_NAME} -DSIZE=${ARG_SIZE} -P ${script}
        DEPENDS ${ARG_INPUTS} ${ARG_DEPENDS} ${script}
        COMMENT "Embedding ROM image ${ARG_NAME}"
        VERBATIM)
endfunction()
