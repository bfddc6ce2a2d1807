# TAVRIN_SANITIZERS: "address;undefined", "thread" or empty. Applies to every target.
set(TAVRIN_SANITIZERS "" CACHE STRING "Sanitizers to build with (address;undefined or thread)")
if(TAVRIN_SANITIZERS)
    list(JOIN TAVRIN_SANITIZERS "," tavrin_sanitizer_list)
    add_compile_options(-fsanitize=${tavrin_sanitizer_list} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${tavrin_sanitizer_list})
endif()
