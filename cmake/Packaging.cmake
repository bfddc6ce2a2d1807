# Installing and packaging. `cmake --install` puts the program and what it ships with in place
# (component `program`) and the developer tools (component `developer_tools`: asm8080, dis8080,
# drovask-run, drovask-dap and cpm-run with their manuals); `--component` installs one of them.
# `cpack` makes the packages that users install: a .deb and a .tar.gz on Linux with both
# components, a .zip on Windows with the program's alone (the tools are built only natively;
# scripts/package makes all three). The files themselves are installed next to their targets and
# in packaging/.
include(GNUInstallDirs)

# On Windows the program sits at the top of its folder, beside its README; elsewhere the usual
# Unix tree under the prefix.
if(WIN32)
    set(TAVRIN_INSTALL_BINDIR .)
    set(TAVRIN_INSTALL_DOCDIR .)
    # The executable's icon and version information come from a resource script.
    enable_language(RC)
else()
    set(TAVRIN_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
    set(TAVRIN_INSTALL_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/tavrin-mirellon)
endif()

set(CPACK_PACKAGE_NAME tavrin-mirellon)
set(CPACK_PACKAGE_VENDOR "The Tavrin Mirellon developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Emulator of an Intel 8080 arcade machine, with its own game")
set(CPACK_PACKAGE_DESCRIPTION
    "Tavrin Mirellon emulates an arcade machine built around an Intel 8080 processor
and plays its 8 KiB program ROM in a window: a brick-breaker written for the
machine, unless another ROM image was built in. Keys: C coin, Q one player,
E two players, A and D move, S fires, Escape quits.")
string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" tavrin_package_platform)
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${tavrin_package_platform}")
set(tavrin_packaged_components program)
if(NOT WIN32)
    list(APPEND tavrin_packaged_components developer_tools)
    string(APPEND CPACK_PACKAGE_DESCRIPTION "
For program authors it carries the developer tools: asm8080 (the assembler),
dis8080 (the disassembler), drovask-run (runs a ROM image without a window,
with traces, breakpoints and screenshots) and cpm-run.")
endif()
set(CPACK_INSTALL_CMAKE_PROJECTS "")
foreach(component IN LISTS tavrin_packaged_components)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS ${PROJECT_BINARY_DIR} ${PROJECT_NAME} ${component} /)
endforeach()
set(CPACK_STRIP_FILES ON)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR DEB TGZ)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    # One package holds the games (in /usr/games) and the developer tools (in /usr/bin): the
    # section of emulators fits both, where `games` would have lintian warn about the tools.
    set(CPACK_DEBIAN_PACKAGE_SECTION otherosfs)
    # The maintainer has no address yet: lintian reports the field as malformed-contact.
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_VENDOR}")
    # The library packages the program needs (SDL2, GLEW, OpenGL, the C++ runtime) are read from
    # the executable by dpkg-shlibdeps (package dpkg-dev), so they follow the build machine.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Debian's layout (the games in /usr/games, compressed manual pages, the copyright file and
    # the changelog) is made in the package's staging tree; the archive keeps the plain tree.
    set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/debian_layout.cmake)
    set(CPACK_TAVRIN_GAMES tavrin-mirellon drovask-play)
    set(CPACK_TAVRIN_DEBIAN_COPYRIGHT ${PROJECT_BINARY_DIR}/packaging/debian/copyright)
    set(CPACK_TAVRIN_DEBIAN_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/changelog)
endif()

include(CPack)
