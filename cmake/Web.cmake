# The program for web browsers, built with Emscripten: WebAssembly with WebGL 2, no threads and
# no SDL. tavrin_web_executable(<target>) makes <target>.js and <target>.wasm and puts the page,
# index.html, beside them: the three files that a static web host serves.

# C++ exceptions are caught (the program reports its errors by throwing Tavrin::Exception); the
# setting must be the same when compiling and when linking.
set(TAVRIN_WEB_EXCEPTIONS -sDISABLE_EXCEPTION_CATCHING=0)
add_compile_options(${TAVRIN_WEB_EXCEPTIONS})

function(tavrin_web_executable target)
    set(page_folder ${PROJECT_SOURCE_DIR}/application/web)
    target_link_options(${target} PRIVATE
        ${TAVRIN_WEB_EXCEPTIONS}
        -sENVIRONMENT=web
        -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2
        # Nothing reads or writes files; the ROM is built in.
        -sFILESYSTEM=0
        -sEXPORTED_RUNTIME_METHODS=[]
        --post-js ${page_folder}/test_interface.js)
    # A change of the page links again, which copies it (below).
    set_target_properties(${target} PROPERTIES SUFFIX .js LINK_DEPENDS
                          "${page_folder}/test_interface.js;${page_folder}/index.html")
    add_custom_command(TARGET ${target} POST_BUILD
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different ${page_folder}/index.html
                               $<TARGET_FILE_DIR:${target}>/index.html
                       VERBATIM)
endfunction()
