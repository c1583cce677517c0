# The Debian package (`make package`, or `cmake --build build --target package`): rbar-survey
# in /usr/bin, the driver image in /usr/share/rbar-survey, the manual page and the copyright
# file. CPack's DEB generator builds it from what `cmake --install` installs, under /usr.
include(GNUInstallDirs)

install(FILES ${CMAKE_BINARY_DIR}/RbarSurvey.efi
        DESTINATION ${CMAKE_INSTALL_DATADIR}/${PROJECT_NAME})
install(FILES ${CMAKE_SOURCE_DIR}/tools/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The changelog in Debian's form, compressed as Debian installs it (gzip -9 -n: no name or
# time stamp, so the same file gives the same bytes).
set(PACKAGE_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(
  OUTPUT ${PACKAGE_CHANGELOG}
  COMMAND ${GZIP} -9 -n -c ${CMAKE_SOURCE_DIR}/tools/changelog > ${PACKAGE_CHANGELOG}
  DEPENDS ${CMAKE_SOURCE_DIR}/tools/changelog
  VERBATIM)
add_custom_target(rbar-survey-changelog ALL DEPENDS ${PACKAGE_CHANGELOG})
install(FILES ${PACKAGE_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "rbar-survey maintainers <maintainers@users.noreply.c-seed-63269b4c.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Resizable BAR survey: the UEFI driver's report previewed on Linux")
# Lines of at most 80 characters, as Debian's control files want them.
set(CPACK_PACKAGE_DESCRIPTION "rbar-survey runs the Resizable BAR survey driver's own code over this
machine's PCI configuration space, read through libpci, or over lspci dump
files, and prints what the driver would report on the firmware console. The
package also holds the driver image, RbarSurvey.efi, to load in UEFI firmware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (from dpkg-dev) finds the libraries the tool links: libpci3, libstdc++6, libc6.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
