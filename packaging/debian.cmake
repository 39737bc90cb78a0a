# The Debian package of the tool, made by `cpack -G DEB` (the package
# target): tilvane in /usr/bin, the plug-in where it looks by default, the
# manual page, the completions, and the README and copyright file under
# /usr/share/doc/tilvane. Its dependencies come from dpkg-shlibdeps.
set(TILVANE_DEB_MAINTAINER "${TILVANE_VENDOR} <packages@tilvane.example>" CACHE STRING
    "The Maintainer field of the Debian package: a name and an address")

# Debian's machine-readable copyright file, the holders read from the
# effect's identity.
string(REGEX REPLACE "^Copyright ([^.]*)\\.?$" "\\1" TILVANE_COPYRIGHT_HOLDERS
       "${TILVANE_COPYRIGHT}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in copyright @ONLY)
# A native package's changelog, compressed as Debian ships it.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in changelog @ONLY)
execute_process(COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/changelog)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tilvane)
set(CPACK_PACKAGE_VENDOR ${TILVANE_VENDOR})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "offline renderer of the Tilvane mosaic effect")
set(CPACK_PACKAGE_DESCRIPTION
    "tilvane renders the Tilvane video effect from image files, outside the host:
it tiles the frame with copies of an icon layer, and a displacement layer's
brightness turns, scales, re-times, colours and fades each cell. It loads
the effect's plug-in, shipped with it, and drives it as a host would, so
its frames are the plug-in's own. Stills, numbered sequences and movies in;
PNG, TIFF, EXR, JPEG, DPX and WebP images, sequences and movies out.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tilvane_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TILVANE_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${TILVANE_WEB_ADDRESS}")
# The bash completion it installs is read by bash-completion's loader.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS bash-completion)
include(CPack)
