# What `cmake --install` and the Debian package carry besides the three programs: the desktop
# entry, its icons, the AppStream metainfo, korvex-cli's manual page, and a check of all of it.

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

# The release entry carries the project's version; the date honours SOURCE_DATE_EPOCH.
string(TIMESTAMP KORVEX_RELEASE_DATE "%Y-%m-%d" UTC)
configure_file(${KORVEX_DATA_DIR}/${KORVEX_APP_ID}.metainfo.xml
               ${PROJECT_BINARY_DIR}/${KORVEX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${KORVEX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# korvex-cli's manual page is made from its own --help and --version, so it never falls behind
# the program. Without help2man there is no manual page, and the install check does not ask
# for one.
find_program(HELP2MAN help2man)
if(HELP2MAN AND TARGET korvex-cli)
    set(KORVEX_CLI_MAN ${PROJECT_BINARY_DIR}/korvex-cli.1.gz)
    add_custom_command(
        OUTPUT ${KORVEX_CLI_MAN}
        COMMAND ${HELP2MAN} --no-info --section=1
                "--name=load program images into ARM7 evaluation boards"
                --include=${PROJECT_SOURCE_DIR}/packaging/korvex-cli.h2m
                --output=${PROJECT_BINARY_DIR}/korvex-cli.1 $<TARGET_FILE:korvex-cli>
        COMMAND gzip -9 -n -f ${PROJECT_BINARY_DIR}/korvex-cli.1
        DEPENDS korvex-cli ${PROJECT_SOURCE_DIR}/packaging/korvex-cli.h2m
        COMMENT "Writing the manual page of korvex-cli"
        VERBATIM)
    add_custom_target(korvex-cli-man ALL DEPENDS ${KORVEX_CLI_MAN})
    install(FILES ${KORVEX_CLI_MAN} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    set(KORVEX_EXPECT_MAN ON)
else()
    message(STATUS "help2man not found: korvex-cli gets no manual page")
    set(KORVEX_EXPECT_MAN OFF)
endif()

add_test(NAME install_check
         COMMAND ${PROJECT_SOURCE_DIR}/packaging/check-install.sh ${PROJECT_BINARY_DIR}
                 ${KORVEX_APP_ID} ${PROJECT_VERSION} ${KORVEX_EXPECT_MAN})
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
