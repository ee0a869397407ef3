# The Debian package of the install (`cpack -G DEB` in the build tree; scripts/package builds it
# and checks it with lintian). Its dependencies come from the shared libraries the programs link,
# plus the Qt plugins they load by name.
set(CALVEX_PACKAGE_MAINTAINER "Calvex developers <calvex@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME calvex)
set(CPACK_PACKAGE_VENDOR Vorla)
set(CPACK_PACKAGE_CONTACT "${CALVEX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "converter of AVI and WAV files to MPEG-1 and back")
set(CPACK_PACKAGE_DESCRIPTION
    "Calvex turns AVI movies into MPEG-1 system or video streams and WAV files into\n"
    "MPEG audio (Layers 1 and 2), and converts MPEG-1 and MPEG audio back into AVI\n"
    "and WAV. It has a desktop program (calvex-gui), with a preview and marks for\n"
    "sections, and a command line (calvex) for batches on one or many machines.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(TARGET calvex-gui)
  # The window icon is drawn by Qt's SVG icon engine, a plugin no program links.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
endif()

# Debian wants a changelog of the package beside its copyright.
string(TIMESTAMP calvex_package_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian
  "calvex (${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}) unstable; urgency=medium\n\n"
  "  * Built from the Calvex sources.\n\n"
  " -- ${CALVEX_PACKAGE_MAINTAINER}  ${calvex_package_date}\n")
add_custom_command(OUTPUT changelog.Debian.gz
  COMMAND gzip -n -9 -f -k changelog.Debian
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian
  VERBATIM)
add_custom_target(calvex_package_changelog ALL DEPENDS changelog.Debian.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
