# `cpack` in a Release build folder makes vell_<version>_<arch>.deb; its
# dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vell developers")
set(CPACK_PACKAGE_CONTACT "The Vell developers <vell@brightfold.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dictation from the tray, pasted where the cursor was")
set(CPACK_PACKAGE_DESCRIPTION
    "Vell sits in the system tray. Hold a shortcut (Right Alt by default),
speak and let go: the words are transcribed and pasted where the cursor
was, in whichever application has the focus. A floating panel shows that
it listens; a history keeps every dictation. Commands (vell toggle, vell
status) reach the running Vell from key bindings and status bars. It
works on X11 and, through XWayland, on Wayland.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Vell developers <vell@brightfold.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vell.brightfold.org)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
