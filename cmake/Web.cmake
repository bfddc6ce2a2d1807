# The program for web browsers, built with Emscripten: WebAssembly with WebGL 2, no threads and
# no SDL. tavrin_web_executable(<target>) makes <target>.js and <target>.wasm and puts the page's
# files (TAVRIN_WEB_PAGE_FILES, from application/web/) beside them; with the icons that
# scripts/build-web draws, they are what a static web host serves.

# C++ exceptions are caught (the program reports its errors by throwing Tavrin::Exception); the
# setting must be the same when compiling and when linking.
set(TAVRIN_WEB_EXCEPTIONS -sDISABLE_EXCEPTION_CATCHING=0)
add_compile_options(${TAVRIN_WEB_EXCEPTIONS})

# The page, its script, the service worker that keeps the files for offline use (it lists them
# too) and the manifest that makes the page installable.
set(TAVRIN_WEB_PAGE_FILES index.html page.js picture_2d.js service_worker.js manifest.webmanifest)

function(tavrin_web_executable target)
    set(page_folder ${PROJECT_SOURCE_DIR}/application/web)
    target_link_options(${target} PRIVATE
        ${TAVRIN_WEB_EXCEPTIONS}
        -sENVIRONMENT=web
        -sMIN_WEBGL_VERSION=2 -sMAX_WEBGL_VERSION=2
        # Nothing reads or writes files; the ROM is built in.
        -sFILESYSTEM=0
        # The rewind's past: about 6 MB, up to 40 MB for a program that stores above RAM.
        -sALLOW_MEMORY_GROWTH=1
        -sEXPORTED_RUNTIME_METHODS=[]
        --post-js ${page_folder}/test_interface.js)
    # A change of the page links again, which copies it (below).
    list(TRANSFORM TAVRIN_WEB_PAGE_FILES PREPEND ${page_folder}/ OUTPUT_VARIABLE page_files)
    set_target_properties(${target} PROPERTIES SUFFIX .js LINK_DEPENDS
                          "${page_folder}/test_interface.js;${page_files}")
    add_custom_command(TARGET ${target} POST_BUILD
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different ${page_files}
                               $<TARGET_FILE_DIR:${target}>
                       VERBATIM)
endfunction()
