# Gives the Debian package's staging tree the layout that Debian's policy asks for (lintian checks
# it). CPack runs this after installing the components and before making each package
# (CPACK_PRE_BUILD_SCRIPTS); the Linux archive keeps the plain tree of `cmake --install`.
# - The games (CPACK_TAVRIN_GAMES) go to /usr/games; the developer tools stay in /usr/bin.
# - The copyright file, which holds the licence and the third-party notices, stands in for
#   LICENSE and THIRD-PARTY-NOTICES.txt; the changelog is added.
# - The changelog and the manual pages are compressed with gzip -9n (no name, no time stamp, so
#   that two builds make the same package).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()

set(usr ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr)
if(NOT IS_DIRECTORY ${usr}/bin)
    message(FATAL_ERROR "debian_layout: the staging tree has no ${usr}/bin")
endif()
set(doc ${usr}/share/doc/${CPACK_PACKAGE_NAME})

function(compress file destination)
    execute_process(COMMAND gzip -9n -c ${file} OUTPUT_FILE ${destination}
                    COMMAND_ERROR_IS_FATAL ANY)
endfunction()

file(MAKE_DIRECTORY ${usr}/games)
foreach(game IN LISTS CPACK_TAVRIN_GAMES)
    file(RENAME ${usr}/bin/${game} ${usr}/games/${game})
endforeach()

file(REMOVE ${doc}/LICENSE ${doc}/THIRD-PARTY-NOTICES.txt)
file(COPY_FILE ${CPACK_TAVRIN_DEBIAN_COPYRIGHT} ${doc}/copyright)
# A package without a Debian revision is native: its changelog is changelog.gz.
compress(${CPACK_TAVRIN_DEBIAN_CHANGELOG} ${doc}/changelog.gz)

file(GLOB pages ${usr}/share/man/man*/*.[1-9])
foreach(page IN LISTS pages)
    compress(${page} ${page}.gz)
    file(REMOVE ${page})
endforeach()
