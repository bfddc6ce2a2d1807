# A manual page for every program that the Linux packages carry, the games' in section 6 and the
# developer tools' in section 1. asm8080's and dis8080's are written beside their sources and
# tavrin-mirellon's here (it takes no options, so it has no --help to read); help2man writes the
# others from the program's own --help at build time, so they cannot fall behind it, and adds the
# SEE ALSO section of man/see-also.h2m.
find_program(HELP2MAN help2man REQUIRED)
set(see_also ${CMAKE_CURRENT_SOURCE_DIR}/man/see-also.h2m)

# help2man dates a page from SOURCE_DATE_EPOCH: the latest changelog entry's date, so that two
# builds of one version make the same pages.
find_program(DPKG_PARSECHANGELOG dpkg-parsechangelog)
set(release_epoch "")
if(DPKG_PARSECHANGELOG)
    execute_process(COMMAND ${DPKG_PARSECHANGELOG} -l ${CMAKE_CURRENT_SOURCE_DIR}/changelog
                            -S Timestamp
                    OUTPUT_VARIABLE release_epoch OUTPUT_STRIP_TRAILING_WHITESPACE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${CMAKE_CURRENT_SOURCE_DIR}/changelog)
endif()

# help2man_page(TARGET SECTION COMPONENT SUMMARY): TARGET's page, installed with COMPONENT.
set(manual_pages "")
function(help2man_page target section component summary)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${target}.${section})
    add_custom_command(OUTPUT ${page}
                       COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${release_epoch}
                               ${HELP2MAN} --no-info --section=${section}
                               --version-string=${PROJECT_VERSION} --name=${summary}
                               --include=${see_also} --output=${page} $<TARGET_FILE:${target}>
                       DEPENDS ${target} ${see_also}
                       COMMENT "Writing the manual page ${target}(${section}) from its --help"
                       VERBATIM)
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
            COMPONENT ${component})
    set(manual_pages ${manual_pages} ${page} PARENT_SCOPE)
endfunction()

help2man_page(drovask-play 6 program "play a ROM image of the arcade machine in a window")
help2man_page(drovask-run 1 developer_tools
              "run a ROM image of the arcade machine without a window")
help2man_page(drovask-dap 1 developer_tools "debug adapter for the arcade machine's programs")
help2man_page(cpm-run 1 developer_tools "run a CP/M test program on the 8080 processor")
add_custom_target(tavrin_manual_pages ALL DEPENDS ${manual_pages})
install(FILES man/tavrin-mirellon.6 DESTINATION ${CMAKE_INSTALL_MANDIR}/man6 COMPONENT program)
