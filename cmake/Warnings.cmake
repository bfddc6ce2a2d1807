# Every target of the project compiles with the same strict warnings.
add_library(tavrin_warnings INTERFACE)
if(MSVC)
    target_compile_options(tavrin_warnings INTERFACE /W4 /permissive-)
else()
    target_compile_options(tavrin_warnings INTERFACE -Wall -Wextra -Wpedantic -Wconversion -Wshadow
                                                     -Wsign-conversion)
endif()

# Sources include each other from the repository root: "processor/intel_8080.hpp".
add_library(tavrin_include_root INTERFACE)
target_include_directories(tavrin_include_root INTERFACE ${PROJECT_SOURCE_DIR})
