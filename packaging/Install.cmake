# What `cmake --install` and the Debian package carry besides the three programs: the desktop
# entry, its icons, the AppStream metainfo, the udev rule for FTDI adapters (not enabled), the
# labgrid driver, the manual pages, and a check of all of it.

set(KORVEX_APP_ID org.korvex.Korvex)
set(KORVEX_DATA_DIR ${PROJECT_SOURCE_DIR}/data)

install(FILES ${KORVEX_DATA_DIR}/${KORVEX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The icon theme finds the icons by the desktop entry's Icon= name.
install(FILES ${KORVEX_DATA_DIR}/korvex-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
        RENAME ${KORVEX_APP_ID}.png)
install(FILES ${KORVEX_DATA_DIR}/korvex.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${KORVEX_APP_ID}.svg)

# The udev rule that sets FTDI adapters' latency timer to 1 ms. It lands beside the program's
# data, not among the system's rules: the user enables it with the one command the README gives.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-korvex-ftdi-latency.rules
        DESTINATION ${CMAKE_INSTALL_DATADIR}/korvex/udev)

# The labgrid driver: a board farm's environment file imports it from here.
install(FILES ${PROJECT_SOURCE_DIR}/integrations/labgrid/korvexdriver.py
        DESTINATION ${CMAKE_INSTALL_DATADIR}/korvex/labgrid)

# The release entry carries the project's version; the date honours SOURCE_DATE_EPOCH.
string(TIMESTAMP KORVEX_RELEASE_DATE "%Y-%m-%d" UTC)
configure_file(${KORVEX_DATA_DIR}/${KORVEX_APP_ID}.metainfo.xml
               ${PROJECT_BINARY_DIR}/${KORVEX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${KORVEX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual pages are made from the programs' own --help and --version, so they never fall
# behind the programs: korvex, korvex-boardsim, korvex-cli, and korvex-cli-COMMAND for each of
# its commands. Without help2man there are none, and the install check does not ask for them.
set(KORVEX_CLI_COMMANDS ports types sync program verify read erase sram info monitor station)
find_program(HELP2MAN help2man)
set(KORVEX_MAN_PAGES)
# Writes PAGE.1.gz from what PROGRAM prints for --help and --version; extra help2man options
# follow.
function(korvex_manual_page page program description)
    set(out ${PROJECT_BINARY_DIR}/man/${page}.1)
    add_custom_command(
        OUTPUT ${out}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
        COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1 "--name=${description}"
                ${ARGN} --output=${out} ${program}
        COMMAND gzip -9 -n -f ${out}
        DEPENDS ${program} ${PROJECT_SOURCE_DIR}/packaging/korvex-cli.h2m
                ${PROJECT_SOURCE_DIR}/packaging/korvex.h2m
        COMMENT "Writing the manual page ${page}(1)"
        VERBATIM)
    set(KORVEX_MAN_PAGES ${KORVEX_MAN_PAGES} ${out}.gz PARENT_SCOPE)
endfunction()

if(HELP2MAN AND TARGET korvex-cli AND TARGET korvex AND TARGET korvex-boardsim)
    korvex_manual_page(korvex $<TARGET_FILE:korvex>
                       "serial loader window for ARM7 evaluation boards"
                       --include=${PROJECT_SOURCE_DIR}/packaging/korvex.h2m)
    korvex_manual_page(korvex-boardsim $<TARGET_FILE:korvex-boardsim>
                       "simulated ARM7 evaluation board on a pseudo-terminal")
    korvex_manual_page(korvex-cli $<TARGET_FILE:korvex-cli>
                       "load program images into ARM7 evaluation boards"
                       --include=${PROJECT_SOURCE_DIR}/packaging/korvex-cli.h2m)
    # Each command as a program of its own, so that its page carries its own title.
    foreach(command ${KORVEX_CLI_COMMANDS})
        set(wrapper ${PROJECT_BINARY_DIR}/man/bin/korvex-cli-${command})
        file(GENERATE OUTPUT ${wrapper}
             CONTENT "#!/bin/sh\nexec \"$<TARGET_FILE:korvex-cli>\" ${command} \"$@\"\n"
             FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                              WORLD_READ WORLD_EXECUTE)
        # A version string without a name: the page is named for the wrapper.
        korvex_manual_page(korvex-cli-${command} ${wrapper}
                           "the ${command} command of korvex-cli"
                           --version-string=${PROJECT_VERSION})
    endforeach()
    add_custom_target(korvex-man ALL DEPENDS ${KORVEX_MAN_PAGES})
    install(FILES ${KORVEX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    set(KORVEX_EXPECT_MAN ON)
else()
    message(STATUS "help2man not found: no manual pages")
    set(KORVEX_EXPECT_MAN OFF)
endif()

add_test(NAME install_check
         COMMAND ${PROJECT_SOURCE_DIR}/packaging/check-install.sh ${PROJECT_BINARY_DIR}
                 ${KORVEX_APP_ID} ${PROJECT_VERSION} ${KORVEX_EXPECT_MAN} ${KORVEX_CLI_COMMANDS})
set_tests_properties(install_check PROPERTIES TIMEOUT 120)

# The Debian package: `make package`, or cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvex)
set(CPACK_PACKAGE_VENDOR "The Korvex developers")
set(CPACK_PACKAGE_CONTACT "The Korvex developers <maintainers@korvex.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "serial loader for AT91 ARM7 evaluation boards")
set(CPACK_PACKAGE_DESCRIPTION
    "Korvex loads program images (raw binary, Intel HEX, Motorola S-record, ELF) into AT91 ARM7
evaluation boards through a serial port, talking to the boot monitor on the board. It comes
with korvex-cli for scripts and korvex-boardsim, a simulated board.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's platform plugin is loaded at run time, out of dpkg-shlibdeps' sight. The linked
# libraries, libelf1 for ELF images among them, are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
include(CPack)
