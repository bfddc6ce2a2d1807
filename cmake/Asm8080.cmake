# Assembles Intel 8080 programs at build time with the project's own assembler.
#
#   asm8080_assemble(TARGET <name> SOURCE <file.asm> OUTPUT <file.bin>
#                    [SIZE <bytes>] [BASE <address>] [LISTING <file>] [SYMBOLS <file>]
#                    [CPP_HEADER <file.hpp> | CPP_SOURCE <file.cpp>]
#                    [CPP_NAMESPACE <namespace>] [CPP_NAME <identifier>])
#
# Relative paths: SOURCE from the current source directory, the others from the current binary
# directory. The image is rebuilt when the source, a file it includes or the assembler changes.
#
# What <name> is:
# - with CPP_HEADER: an INTERFACE library. Link it and `#include "<file name of the header>"`,
#   which defines `inline constexpr std::array<std::uint8_t, N> <namespace>::<identifier>`.
# - with CPP_SOURCE: a STATIC library compiling the generated source, which defines
#   `constexpr std::array<std::uint8_t, N> <namespace>::<identifier>` with external linkage;
#   declare it yourself as `extern const std::array<std::uint8_t, N> <identifier>;`.
# - otherwise: a custom target, built by default, that produces OUTPUT.
#
# When cross-compiling the tools are not built: set the cache variable ASM8080_EXECUTABLE to an
# assembler built for the build machine.

set(ASM8080_EXECUTABLE "" CACHE FILEPATH
    "Build-machine asm8080 to use when cross-compiling (the asm8080 target otherwise)")

function(asm8080_assemble)
    cmake_parse_arguments(PARSE_ARGV 0 ARG ""
        "TARGET;SOURCE;OUTPUT;SIZE;BASE;LISTING;SYMBOLS;CPP_HEADER;CPP_SOURCE;CPP_NAMESPACE;CPP_NAME"
        "")
    if(ARG_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "asm8080_assemble: unexpected arguments: ${ARG_UNPARSED_ARGUMENTS}")
    endif()
    foreach(required TARGET SOURCE OUTPUT)
        if(NOT ARG_${required})
            message(FATAL_ERROR "asm8080_assemble: ${required} is required")
        endif()
    endforeach()
    if(ARG_CPP_HEADER AND ARG_CPP_SOURCE)
        message(FATAL_ERROR "asm8080_assemble(${ARG_TARGET}): give CPP_HEADER or CPP_SOURCE, not both")
    endif()
    if((ARG_CPP_HEADER OR ARG_CPP_SOURCE) AND NOT ARG_CPP_NAME)
        message(FATAL_ERROR "asm8080_assemble(${ARG_TARGET}): CPP_NAME is required with C++ output")
    endif()

    if(CMAKE_CROSSCOMPILING)
        if(NOT ASM8080_EXECUTABLE)
            message(FATAL_ERROR "asm8080_assemble(${ARG_TARGET}): when cross-compiling, set "
                "ASM8080_EXECUTABLE to an asm8080 built for the build machine")
        endif()
        set(assembler "${ASM8080_EXECUTABLE}")
        set(assembler_dependency "${ASM8080_EXECUTABLE}")
    else()
        set(assembler "$<TARGET_FILE:asm8080>")
        set(assembler_dependency asm8080)
    endif()

    cmake_path(ABSOLUTE_PATH ARG_SOURCE BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}"
               NORMALIZE OUTPUT_VARIABLE source)
    cmake_path(ABSOLUTE_PATH ARG_OUTPUT BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
               NORMALIZE OUTPUT_VARIABLE output)
    set(outputs "${output}")
    set(arguments "${source}" -o "${output}")
    if(DEFINED ARG_SIZE)
        list(APPEND arguments --size ${ARG_SIZE})
    endif()
    if(DEFINED ARG_BASE)
        list(APPEND arguments --base ${ARG_BASE})
    endif()
    # The optional outputs beside the image, each named after its option.
    foreach(kind LISTING SYMBOLS)
        if(ARG_${kind})
            cmake_path(ABSOLUTE_PATH ARG_${kind} BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
                       NORMALIZE OUTPUT_VARIABLE file)
            string(TOLOWER "${kind}" option)
            list(APPEND arguments --${option} "${file}")
            list(APPEND outputs "${file}")
        endif()
    endforeach()
    set(cpp_file "")
    if(ARG_CPP_HEADER OR ARG_CPP_SOURCE)
        if(ARG_CPP_HEADER)
            set(cpp_option --cpp-header)
            set(cpp_file "${ARG_CPP_HEADER}")
        else()
            set(cpp_option --cpp-source)
            set(cpp_file "${ARG_CPP_SOURCE}")
        endif()
        cmake_path(ABSOLUTE_PATH cpp_file BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE)
        set(cpp_name "${ARG_CPP_NAME}")
        if(ARG_CPP_NAMESPACE)
            set(cpp_name "${ARG_CPP_NAMESPACE}::${ARG_CPP_NAME}")
        endif()
        list(APPEND arguments ${cpp_option} "${cpp_file}" --cpp-name "${cpp_name}")
        list(APPEND outputs "${cpp_file}")
    endif()

    # Files pulled in with INCLUDE reach the build through a depfile.
    set(depfile "${output}.d")
    list(APPEND arguments --depfile "${depfile}")

    # Ninja creates the folders of a command's outputs; other generators do not.
    foreach(file IN LISTS outputs)
        cmake_path(GET file PARENT_PATH folder)
        file(MAKE_DIRECTORY "${folder}")
    endforeach()

    cmake_path(GET source FILENAME source_name)
    add_custom_command(
        OUTPUT ${outputs}
        COMMAND "${assembler}" ${arguments}
        DEPENDS "${source}" ${assembler_dependency}
        DEPFILE "${depfile}"
        COMMENT "Assembling ${source_name}"
        VERBATIM)

    if(ARG_CPP_SOURCE)
        add_library(${ARG_TARGET} STATIC "${cpp_file}")
        target_link_libraries(${ARG_TARGET} PRIVATE tavrin_warnings)
    elseif(ARG_CPP_HEADER)
        add_custom_target(${ARG_TARGET}_assemble DEPENDS ${outputs})
        add_library(${ARG_TARGET} INTERFACE)
        cmake_path(GET cpp_file PARENT_PATH header_directory)
        target_include_directories(${ARG_TARGET} INTERFACE "${header_directory}")
        add_dependencies(${ARG_TARGET} ${ARG_TARGET}_assemble)
    else()
        add_custom_target(${ARG_TARGET} ALL DEPENDS ${outputs})
    endif()
endfunction()
