# The Debian package (`make package`, or `cmake --build build --target package`): rbar-survey
# in /usr/bin, the EFI images in /usr/lib/rbar-survey/efi, rbar-survey-boot and the GRUB script
# (tools/boot), the manual pages and the copyright file. CPack's DEB generator builds it from
# what `cmake --install` installs, under /usr.
include(GNUInstallDirs)

# The driver and boot images of both processors, in one place whatever the package's
# architecture (/usr/lib, not the multiarch library folder): rbar-survey-boot and the postinst
# copy the boot image from there.
install(FILES ${CMAKE_BINARY_DIR}/RbarSurvey.efi ${CMAKE_BINARY_DIR}/RbarSurveyAA64.efi
              ${CMAKE_BINARY_DIR}/RbarSurveyBoot.efi ${CMAKE_BINARY_DIR}/RbarSurveyBootAA64.efi
        DESTINATION lib/${PROJECT_NAME}/efi)
install(FILES ${CMAKE_SOURCE_DIR}/tools/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The documents README.md points to for the JSON report, the metrics, the explanation and the
# Secure Boot path.
install(FILES ${CMAKE_SOURCE_DIR}/docs/json.md ${CMAKE_SOURCE_DIR}/docs/metrics.md
              ${CMAKE_SOURCE_DIR}/docs/explain.md ${CMAKE_SOURCE_DIR}/docs/secure-boot.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
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
package also holds the driver and boot images for x86-64 and AArch64 UEFI
firmware; rbar-survey-boot, which shows the report at the next boot or at every
boot through a firmware boot option; and a GRUB menu entry.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (from dpkg-dev) finds the libraries the tool links: libpci3, libstdc++6, libc6.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The boot helpers: the postinst puts the boot image where GRUB reads it and runs update-grub,
# the postrm undoes that; the GRUB script in /etc is a conffile.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/tools/boot/postinst
    ${CMAKE_SOURCE_DIR}/tools/boot/postrm ${CMAKE_SOURCE_DIR}/tools/boot/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# rbar-survey-boot makes the firmware boot options with it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS efibootmgr)
# With Secure Boot enforcing, rbar-survey-boot signs the image with sbsign and enrols the key
# with mokutil.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "sbsigntool, mokutil")
# A cross build names the architecture its toolchain file gives (cmake/Aarch64LinuxToolchain.cmake);
# dpkg-shlibdeps then looks for that architecture's libraries.
if(RBAR_DEBIAN_ARCHITECTURE)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${RBAR_DEBIAN_ARCHITECTURE})
endif()
include(CPack)
